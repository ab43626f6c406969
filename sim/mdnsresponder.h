// benchsim --mdns: the simulated instruments announce themselves by
// multicast DNS (DNS-SD service types of visa/lanservices.h) as LAN
// instruments do: PTR records per service type, SRV and TXT per instance,
// an A record per host. Each address served answers for itself, from
// itself. Only on interfaces with a loopback address (a private network
// namespace in tests), so the announcements never reach a real network.
#pragma once

#include "sim/datagramresponder.h"
#include "visa/mdns.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace benchsim {

// One resource an instrument is served on, as the ready lines print it.
struct Announcement {
    std::string instrument; // "osc", "sa", "va"
    std::string resource;   // "TCPIP::127.0.0.1::40411::SOCKET", "TCPIP::127.0.0.2::INSTR", ...
};

struct MdnsService {
    std::string type;     // "_scpi-raw._tcp"
    std::string instance; // "benchsim osc"
    uint16_t port = 0;
    std::vector<std::string> texts;
};

struct MdnsHost {
    uint32_t address = 0;  // IPv4, host byte order
    std::string name;      // "benchsim-127-0-0-2" (under "local")
    std::vector<MdnsService> services;
};

// The hosts and services the resources make: a raw socket is a
// _scpi-raw._tcp service, a VXI-11 instrument behind the portmapper on port
// 111 a _vxi-11._tcp and an _lxi._tcp one, a HiSLIP resource
// ("hislipN") a _hislip._tcp one. Resources on other than dotted IPv4
// hosts, and VXI-11 reached as "host,port", are not announced.
std::vector<MdnsHost> mdnsHosts(const std::vector<Announcement> &announced);

struct MdnsAnswer {
    uint32_t source = 0;    // the host answering
    mdns::Bytes message;
    bool multicast = false; // to the group (else to the querier)
};

// The answers to one query, one per host that has something to say: a
// query from port 5353 is answered to the group, a one-shot query from any
// other port (RFC 6762, 6.7) to the querier, with its id and questions.
// Nothing for what is not a well-formed query. Each answer fits one
// datagram of mdns::MaxMessage bytes.
std::vector<MdnsAnswer> answerMdnsQuery(const uint8_t *data, size_t len, uint16_t sourcePort,
                                        const std::vector<MdnsHost> &hosts);

class MdnsResponder {
public:
    explicit MdnsResponder(std::vector<MdnsHost> hosts);
    ~MdnsResponder();
    // Answers on UDP port 5353.
    bool start(std::string *error);
    void stop();

private:
    std::vector<MdnsHost> hosts_;
    DatagramResponder socket_;
};

} // namespace benchsim
