// A UDP socket on the wildcard address that sees, for each datagram, where
// it came from and what it was sent to (a broadcast or multicast address),
// and sends each reply from the local address the reply names: one socket
// answering as several hosts on one segment, for the portmapper's
// broadcasts and the mDNS responder. Answers only senders on loopback
// (127.0.0.0/8), so nothing it says leaves the machine or the namespace.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace benchsim {

struct Datagram {
    std::vector<uint8_t> bytes;
    uint32_t from = 0; // IPv4 addresses in host byte order
    uint16_t fromPort = 0;
    uint32_t to = 0;   // the destination address of the datagram
    int interfaceIndex = 0; // where it arrived
};

struct DatagramReply {
    std::vector<uint8_t> bytes;
    uint32_t source = 0; // local address to send from
    uint32_t to = 0;
    uint16_t toPort = 0;
    int interfaceIndex = 0; // for a multicast destination: the interface to send on
};

using DatagramAnswerer = std::function<std::vector<DatagramReply>(const Datagram &)>;

class DatagramResponder {
public:
    DatagramResponder() = default;
    ~DatagramResponder();
    DatagramResponder(const DatagramResponder &) = delete;
    DatagramResponder &operator=(const DatagramResponder &) = delete;

    // Binds 0.0.0.0:port (sharing it with sockets bound to single
    // addresses) and serves until stop().
    bool listen(uint16_t port, DatagramAnswerer handler, std::string *error);
    // Receives what is sent to the multicast group on every up, multicast
    // interface with an address on loopback; false when there is none.
    bool joinGroupOnLoopback(uint32_t group, std::string *error);
    void stop();

private:
    void loop();

    int fd_ = -1;
    int wakePipe_[2] = {-1, -1};
    DatagramAnswerer handler_;
    std::thread thread_;
};

// 255.255.255.255 and the broadcast address of every IPv4 interface.
std::vector<uint32_t> broadcastAddresses();

} // namespace benchsim
