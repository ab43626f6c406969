// HiSLIP message headers on a stream, fed in pieces of the sizes the input
// picks, with each message's payload skipped as a reader that bounds it
// would: the reader never takes a byte past a header, a header it accepts
// re-encodes to the bytes it came from, and no payload passes the bound.
// Both the client in visa/ and the simulator's server read this way.
//
// Input: 1 byte payload bound (as a power of two), 1 byte piece pattern, stream.
#include "fuzz/fuzzcheck.h"
#include "visa/hislipproto.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const uint64_t bound = uint64_t(1) << (data[0] % 64);
    const unsigned pattern = data[1];
    data += 2;
    size -= 2;

    hislip::HeaderReader reader(bound);
    size_t at = 0;
    size_t headerStart = 0;
    uint64_t payloadLeft = 0;
    for (unsigned i = 0; at < size; ++i) {
        const size_t piece = std::min<size_t>(size - at, 1 + (pattern * (i + 1)) % 37);
        size_t used = 0;
        while (used < piece) {
            if (payloadLeft > 0) {
                const size_t skip = size_t(std::min<uint64_t>(payloadLeft, piece - used));
                payloadLeft -= skip;
                used += skip;
                if (payloadLeft == 0) {
                    reader.reset();
                    headerStart = at + used;
                }
                continue;
            }
            const size_t took = reader.feed(data + at + used, piece - used);
            FUZZ_CHECK(took <= hislip::HeaderSize);
            used += took;
            FUZZ_CHECK(at + used - headerStart <= hislip::HeaderSize);
            const hislip::HeaderStatus st = reader.status();
            if (st == hislip::HeaderStatus::Incomplete) {
                FUZZ_CHECK(took > 0);
                continue;
            }
            FUZZ_CHECK(at + used - headerStart >= 1);
            if (st != hislip::HeaderStatus::Ok)
                return 0; // the stream cannot be trusted past this
            FUZZ_CHECK(at + used - headerStart == hislip::HeaderSize);
            const hislip::Header &h = reader.header();
            FUZZ_CHECK(h.length <= bound);
            uint8_t again[hislip::HeaderSize];
            hislip::encodeHeader(h, again);
            FUZZ_CHECK(std::memcmp(again, data + headerStart, sizeof again) == 0);
            hislip::messageTypeName(h.type);
            hislip::errorText(h.control);
            hislip::fatalErrorText(h.control);
            payloadLeft = h.length;
            if (payloadLeft == 0) {
                reader.reset();
                headerStart = at + used;
            }
        }
        at += piece;
    }
    return 0;
}
