// One datagram to the simulator's mDNS responder, from the port the first
// two bytes name. Every answer fits one datagram, is a response, and
// answers a one-shot query with its id.
#include "fuzz/fuzzcheck.h"
#include "sim/mdnsresponder.h"

#include <cstddef>
#include <cstdint>

using namespace benchsim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::vector<MdnsHost> hosts = mdnsHosts({
        {"osc", "TCPIP::127.0.0.1::5025::SOCKET"},
        {"osc", "TCPIP::127.0.0.1::INSTR"},
        {"sa", "TCPIP::127.0.0.2::hislip0,4881::INSTR"},
        {"va", "TCPIP::127.0.0.3::INSTR"},
    });
    if (size < 2)
        return 0;
    const uint16_t port = uint16_t(data[0] << 8 | data[1]);
    for (const MdnsAnswer &a : answerMdnsQuery(data + 2, size - 2, port, hosts)) {
        FUZZ_CHECK(a.message.size() <= mdns::MaxMessage);
        mdns::Message m;
        FUZZ_CHECK(mdns::parseMessage(a.message.data(), a.message.size(), &m));
        FUZZ_CHECK(m.isResponse() && !m.answers.empty());
        FUZZ_CHECK(a.multicast == (port == mdns::Port));
        if (!a.multicast && size >= 4)
            FUZZ_CHECK(m.id == uint16_t(data[2] << 8 | data[3]));
    }
    return 0;
}
