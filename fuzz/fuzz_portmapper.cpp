// One portmapper call, over TCP or UDP, as the simulator's portmapper on
// port 111 answers it.
#include "fuzz/fuzzcheck.h"
#include "sim/portmapper.h"
#include "visa/vxi11proto.h"

#include <cstddef>
#include <cstdint>

using namespace benchsim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::vector<PortMapping> table = {
        {vxi11::CoreProgram, vxi11::CoreVersion, portmap::ProtoTcp, 1024},
        {vxi11::AbortProgram, vxi11::AbortVersion, portmap::ProtoTcp, 1025},
    };
    const oncrpc::Bytes call(data, data + size);
    oncrpc::Bytes reply;
    if (!answerPortmapperCall(call, table, "127.0.0.2", &reply))
        return 0;
    // Whatever it answers is a well-formed reply to that very call.
    uint32_t xid = 0;
    FUZZ_CHECK(oncrpc::peekXid(call, &xid));
    oncrpc::XdrReader r(reply);
    oncrpc::ReplyHeader h;
    FUZZ_CHECK(oncrpc::decodeReply(r, &h) && h.xid == xid);
    return 0;
}
