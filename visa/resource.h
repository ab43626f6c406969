// Parsing of VISA resource strings for the LAN transports.
#pragma once

#include <cstdint>
#include <string>

namespace visa {

struct Resource {
    // Instr: VXI-11; Hislip: an INSTR resource whose device is "hislipN[,port]".
    enum class Kind { Socket, Instr, Hislip };
    Kind kind = Kind::Instr;
    int board = 0;           // TCPIP[board]
    std::string host;        // name or dotted address
    // SOCKET: the port; INSTR: an explicit core-channel port ("host,port"),
    // 0 = ask the portmapper; HiSLIP: the port, 4880 unless given.
    uint16_t port = 0;
    // INSTR device name (inst0, gpib0,12, ...); HiSLIP: the sub-address
    // (hislip0, ...) without the port.
    std::string device = "inst0";
};

// Keywords are case-insensitive, as VISA parses them. Returns false for a
// string that is not a TCPIP SOCKET or INSTR resource.
bool parseResource(const std::string &text, Resource *out);

} // namespace visa
