// The portmapper the simulator runs on TCP and UDP port 111 of each served
// address, so clients find the VXI-11 core channel as on a real bench.
// Version 2 (GETPORT, DUMP) for pyvisa-py and most VISA libraries;
// versions 3 and 4 (GETADDR) for libtirpc clients, which ask those first.
// Like rpcbind it lists itself, which rpcinfo asks for before anything else.
#pragma once

#include "sim/datagramresponder.h"
#include "sim/rpclistener.h"
#include "visa/oncrpc.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace benchsim {

struct PortMapping {
    uint32_t prog = 0;
    uint32_t vers = 0;
    uint32_t prot = 0; // 6 TCP, 17 UDP
    uint16_t port = 0;
};

// Answers one portmapper call. localIp is the address the query arrived
// on: GETADDR's universal address names it, so each served address hands
// out itself. Returns false for a message that is not a call at all.
bool answerPortmapperCall(const oncrpc::Bytes &call, const std::vector<PortMapping> &table,
                          const std::string &localIp, oncrpc::Bytes *reply);

// "127.0.0.2.4.1" for port 1025: the address, then the port's two bytes.
std::string universalAddress(const std::string &ip, uint16_t port);

class Portmapper {
public:
    explicit Portmapper(std::vector<PortMapping> table);
    ~Portmapper();
    // Serves TCP and UDP on ip:port (port 111 on a bench; 0 for a free port).
    bool listen(const std::string &ip, uint16_t port, std::string *error);
    // Also answers calls broadcast to the UDP port of the first listen(),
    // once from each address served, as that many instruments on one
    // segment answer a client looking for VXI-11 instruments.
    bool answerBroadcasts(std::string *error);
    void stop();
    // The TCP port of the i-th listen() call.
    uint16_t tcpPort(size_t i) const;
    // The table handed out: the mappings given and the portmapper's own.
    std::vector<PortMapping> table() const;

private:
    std::vector<PortMapping> table_;
    std::atomic<uint16_t> ownPort_{0};
    std::vector<std::string> addresses_;
    std::vector<std::unique_ptr<TcpRecordServer>> tcp_;
    std::vector<std::unique_ptr<UdpRecordServer>> udp_;
    std::unique_ptr<DatagramResponder> broadcast_;
};

} // namespace benchsim
