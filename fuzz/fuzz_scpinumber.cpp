// An instrument's numeric reply as viQueryf's "%d" and "%lf" read it.
#include "fuzz/fuzzcheck.h"
#include "visa/scpinumber.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    double real = 0;
    int32_t whole = 0;
    const bool isReal = visa::parseScpiReal(text, size, &real);
    const bool isWhole = visa::parseScpiInt(text, size, &whole);
    if (isReal)
        FUZZ_CHECK(std::isfinite(real));
    // A whole number is also a number, and the same one.
    if (isWhole)
        FUZZ_CHECK(isReal && real == double(whole));
    return 0;
}
