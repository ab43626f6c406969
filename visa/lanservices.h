// The DNS-SD service types under which LAN instruments announce their
// control protocols, and the VISA resource string each one leads to. Shared
// by the search in visa/ and the simulator's mDNS responder.
#pragma once

#include <cstdint>
#include <string>

namespace visa {

enum class LanProtocol { Hislip, Vxi11, Socket };

struct LanServiceType {
    const char *name;     // service type, e.g. "_hislip._tcp" (under "local")
    LanProtocol protocol; // what a client speaks to the announced host
    uint16_t defaultPort; // the protocol's registered port
    bool portNamed;       // the resource names the announced port (else the portmapper finds it)
};

// _vxi-11._tcp announces the portmapper (port 111); an LXI device
// (_lxi._tcp, whose port is its web server) serves VXI-11 as well.
constexpr LanServiceType LanServiceTypes[] = {
    {"_hislip._tcp", LanProtocol::Hislip, 4880, true},
    {"_vxi-11._tcp", LanProtocol::Vxi11, 111, false},
    {"_lxi._tcp", LanProtocol::Vxi11, 80, false},
    {"_scpi-raw._tcp", LanProtocol::Socket, 5025, true},
};

// The resource string to open: "TCPIP0::<ip>::hislip0::INSTR" (",port"
// added when not 4880), "TCPIP0::<ip>::inst0::INSTR",
// "TCPIP0::<ip>::<port>::SOCKET".
std::string lanResource(LanProtocol protocol, const std::string &ip, uint16_t port);

} // namespace visa
