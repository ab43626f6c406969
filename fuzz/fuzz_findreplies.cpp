// What a search for instruments reads from the network: the input as an
// mDNS response and as a portmapper's reply to GETPORT. Whatever it says,
// the resources named are well-formed and each appears once, and a message
// that parses says the same once encoded and parsed again.
#include "fuzz/fuzzcheck.h"
#include "visa/findreplies.h"
#include "visa/resource.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

bool sameRecords(const std::vector<mdns::Record> &a, const std::vector<mdns::Record> &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const mdns::Record &x = a[i], &y = b[i];
        // An empty TXT record goes out as one empty string.
        const bool textsSame = x.texts == y.texts || (x.texts.empty() && y.texts == std::vector<std::string>{""});
        if (!mdns::sameName(x.name, y.name) || x.type != y.type || x.klass != y.klass || x.ttl != y.ttl
            || !mdns::sameName(x.target, y.target) || x.port != y.port || x.ipv4 != y.ipv4 || !textsSame)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::vector<std::string> found = visa::resourcesInMdnsResponse(data, size, "192.0.2.1");
    for (size_t i = 0; i < found.size(); ++i) {
        visa::Resource r;
        FUZZ_CHECK(visa::parseResource(found[i], &r));
        FUZZ_CHECK(std::count(found.begin(), found.end(), found[i]) == 1);
    }

    mdns::Message m;
    if (mdns::parseMessage(data, size, &m)) {
        mdns::Bytes again;
        FUZZ_CHECK(mdns::encodeMessage(m, &again));
        mdns::Message n;
        FUZZ_CHECK(mdns::parseMessage(again.data(), again.size(), &n));
        FUZZ_CHECK(n.id == m.id && n.flags == m.flags && n.questions.size() == m.questions.size());
        FUZZ_CHECK(sameRecords(m.answers, n.answers) && sameRecords(m.authorities, n.authorities)
                   && sameRecords(m.additionals, n.additionals));
    }

    // The transaction id a search would have used: the reply's own, if any.
    const uint32_t xid = size >= 4 ? uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16 | uint32_t(data[2]) << 8 | data[3] : 0;
    if (visa::coreChannelAnswered(data, size, xid))
        FUZZ_CHECK(size >= 28); // xid, type, status, verifier, accept status, port
    return 0;
}
