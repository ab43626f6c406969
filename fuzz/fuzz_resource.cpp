// Resource strings as a user types them into an instrument's field.
#include "fuzz/fuzzcheck.h"
#include "visa/resource.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    visa::Resource r;
    if (!visa::parseResource(std::string(reinterpret_cast<const char *>(data), size), &r))
        return 0;
    // What a transport needs to open a connection is always there.
    FUZZ_CHECK(!r.host.empty());
    if (r.kind != visa::Resource::Kind::Instr)
        FUZZ_CHECK(r.port != 0);
    else
        FUZZ_CHECK(!r.device.empty());
    return 0;
}
