// Listening sockets that speak ONC RPC records: a TCP listener with one
// thread per connection, and a UDP socket answering datagrams. Used by the
// simulator's portmapper and VXI-11 channels. Plain POSIX threads so the
// servers run without any event loop in the process.
#pragma once

#include "sim/connectionserver.h"
#include "visa/oncrpc.h"

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace benchsim {

// What the connection does after a record was handled.
struct RecordOutcome {
    bool reply = true;      // send *reply as one record
    bool closeAfter = false; // then drop the connection (injected fault)
    int closeDelayMs = 0;   // ... after this long
    // XDR opaque data that ends the reply (*reply ends with its length),
    // sent from where it lies instead of copied into *reply, then padded to
    // a multiple of 4 bytes. It may point into keep, which holds it alive.
    QByteArray tail;
    QByteArray keep;
};

// The per-connection state: created when a client connects, destroyed when
// the connection ends, so whatever it owns (VXI-11 links) goes with it.
class RecordSession {
public:
    virtual ~RecordSession() = default;
    virtual RecordOutcome onRecord(const oncrpc::Bytes &record, oncrpc::Bytes *reply) = 0;

protected:
    // The connection's socket, for a call that waits long: it watches for
    // the client hanging up. Set before the first record.
    int peerFd() const { return peerFd_; }

private:
    friend class TcpRecordServer;
    int peerFd_ = -1;
};

// localIp: the address the connection arrived on.
using SessionFactory = std::function<std::unique_ptr<RecordSession>(const std::string &localIp)>;

class TcpRecordServer {
public:
    TcpRecordServer() = default;
    ~TcpRecordServer();
    TcpRecordServer(const TcpRecordServer &) = delete;
    TcpRecordServer &operator=(const TcpRecordServer &) = delete;

    // port 0 picks a free port. maxRecord bounds one incoming record.
    bool listen(const std::string &ip, uint16_t port, size_t maxRecord, SessionFactory factory, std::string *error);
    uint16_t port() const { return server_.port(); }
    // Closes the listener and every connection, and joins all threads.
    void stop();

private:
    void serveRecords(int fd);

    size_t maxRecord_ = 0;
    SessionFactory factory_;
    ConnectionServer server_;
};

// handler gets one datagram and the local address; returns false to send nothing.
using DatagramHandler = std::function<bool(const oncrpc::Bytes &in, const std::string &localIp, oncrpc::Bytes *out)>;

class UdpRecordServer {
public:
    UdpRecordServer() = default;
    ~UdpRecordServer();
    UdpRecordServer(const UdpRecordServer &) = delete;
    UdpRecordServer &operator=(const UdpRecordServer &) = delete;

    bool listen(const std::string &ip, uint16_t port, DatagramHandler handler, std::string *error);
    uint16_t port() const { return port_; }
    void stop();

private:
    void loop();

    int fd_ = -1;
    int wakePipe_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::string ip_;
    DatagramHandler handler_;
    std::thread thread_;
};

} // namespace benchsim
