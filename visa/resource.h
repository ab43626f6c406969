// Parsing of VISA resource strings for the LAN transports.
#pragma once

#include <cstdint>
#include <string>

namespace visa {

struct Resource {
    enum class Kind { Socket, Instr };
    Kind kind = Kind::Instr;
    int board = 0;           // TCPIP[board]
    std::string host;        // name or dotted address
    uint16_t port = 0;       // SOCKET: the port; INSTR: an explicit core-channel port ("host,port"), 0 = ask the portmapper
    std::string device = "inst0"; // INSTR device name (inst0, gpib0,12, ...)
};

// Keywords are case-insensitive, as VISA parses them. Returns false for a
// string that is not a TCPIP SOCKET or INSTR resource.
bool parseResource(const std::string &text, Resource *out);

} // namespace visa
