#include "visa/lanservices.h"

namespace visa {

std::string lanResource(LanProtocol protocol, const std::string &ip, uint16_t port)
{
    switch (protocol) {
    case LanProtocol::Hislip:
        return "TCPIP0::" + ip + "::hislip0" + (port == 4880 ? std::string() : "," + std::to_string(port)) + "::INSTR";
    case LanProtocol::Vxi11:
        return "TCPIP0::" + ip + "::inst0::INSTR";
    case LanProtocol::Socket:
        break;
    }
    return "TCPIP0::" + ip + "::" + std::to_string(port) + "::SOCKET";
}

} // namespace visa
