// ONC RPC record marking on a TCP stream, fed in pieces of the sizes the
// input picks, and the call and reply headers of every record that comes
// out. Both the VXI-11 client and the simulator's servers read this way.
//
// Input: 2 bytes record limit (in 16-byte units), 1 byte piece pattern, stream.
#include "fuzz/fuzzcheck.h"
#include "visa/oncrpc.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

using namespace oncrpc;

namespace {

void decodeRecord(const Bytes &record, size_t maxRecord)
{
    uint32_t xid = 0;
    peekXid(record, &xid);
    {
        XdrReader r(record);
        ReplyHeader h;
        if (decodeReply(r, &h) && h.success()) {
            // The shape of a device_read reply: error, reason, data.
            r.u32();
            r.u32();
            const Bytes data = r.opaque(maxRecord);
            FUZZ_CHECK(!r.ok() || data.size() <= record.size());
        }
    }
    XdrReader r(record);
    CallHeader h;
    if (decodeCall(r, &h)) {
        r.string(256);
        r.skipOpaque(maxRecord);
        r.boolean();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const size_t maxRecord = (size_t(data[0]) << 8 | data[1]) * 16;
    const unsigned pattern = data[2];
    data += 3;
    size -= 3;

    RecordAssembler assembler(maxRecord);
    size_t fed = 0, delivered = 0;
    Bytes record;
    for (unsigned i = 0; fed < size; ++i) {
        const size_t piece = std::min<size_t>(size - fed, 1 + (pattern * (i + 1)) % 61);
        assembler.feed(data + fed, piece);
        fed += piece;
        while (assembler.next(&record)) {
            FUZZ_CHECK(record.size() <= maxRecord);
            delivered += record.size();
            decodeRecord(record, maxRecord);
        }
    }
    // Records carry no more than the stream brought (headers are 4 bytes each).
    FUZZ_CHECK(delivered <= size);
    return 0;
}
