// An IEEE 488.2 block as the application's block reader takes it apart:
// "#n", n count digits, then the float32 data.
#include "fuzz/fuzzcheck.h"
#include "instruments/blockread.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > INT_MAX)
        return 0;
    const char *p = reinterpret_cast<const char *>(data);
    const int n = blockLengthDigits(p, int(std::min<size_t>(size, 2)));
    FUZZ_CHECK(n >= 0 && n <= 9);
    if (n == 0)
        return 0;
    FUZZ_CHECK(size >= 2);
    qint64 count = -1;
    if (!blockByteCount(p + 2, int(size - 2), n, &count))
        return 0;
    FUZZ_CHECK(size >= size_t(2 + n) && count >= 0);
    // The decoder may only be given as many bytes as arrived.
    const QByteArray body(p + 2 + n, int(size) - 2 - n);
    const qint64 usable = std::min<qint64>(count, body.size());
    FUZZ_CHECK(decodeFloat32Le(body, usable).size() == usable / 4);
    return 0;
}
