// The thread-per-connection skeleton shared by the simulator's TCP servers
// (raw SCPI sockets, ONC RPC records, HiSLIP): a listener, an accept loop,
// admission of at most MaxConnections at a time, one thread per connection,
// and the joining of finished ones. What a connection says is the user's
// business, in the function it hands to listen(). Plain POSIX threads, so
// the servers run without any event loop in the process.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace benchsim {

class ConnectionServer {
public:
    // Runs one connection on its own thread: fd is a non-blocking socket
    // with TCP_NODELAY. The skeleton shuts it down and closes it afterwards;
    // an exception ends only this connection.
    using Serve = std::function<void(int fd)>;

    ConnectionServer() = default;
    ~ConnectionServer();
    ConnectionServer(const ConnectionServer &) = delete;
    ConnectionServer &operator=(const ConnectionServer &) = delete;

    // Sent, as far as the socket takes it at once, to a connection that is
    // refused because MaxConnections are served (a protocol's "too many
    // clients"); set before listen(). Nothing by default.
    void setRefusal(std::vector<uint8_t> bytes) { refusal_ = std::move(bytes); }

    // Listens on ip:port (dotted IPv4; port 0 picks a free port).
    bool listen(const std::string &ip, uint16_t port, Serve serve, std::string *error);
    uint16_t port() const { return port_; }

    // Readable once stop() has begun: a connection that waits on something
    // other than its socket watches this beside it.
    int wakeFd() const { return wakeFd_; }
    bool stopping() const { return stopping_; }
    // Sleeps for ms; stop() cuts it short.
    void pause(int ms) const;

    // Closes the listener, shuts every connection's socket down (which wakes
    // a thread blocked on it) and joins every thread.
    void stop();

private:
    struct Connection {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> done{false};
    };
    void acceptLoop();
    void admit(int fd);
    void reapFinished();
    void run(Connection *conn);

    int listenFd_ = -1;
    int wakeFd_ = -1; // eventfd
    uint16_t port_ = 0;
    Serve serve_;
    std::vector<uint8_t> refusal_;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;
    std::mutex mutex_;
    std::list<std::unique_ptr<Connection>> connections_;
};

// A socket of type (SOCK_STREAM, SOCK_DGRAM) bound to ip:port with
// SO_REUSEADDR; *boundPort gets the port it got. -1 and *error on failure.
int boundSocket(int type, const std::string &ip, uint16_t port, uint16_t *boundPort, std::string *error);

// The local address a connected socket arrived on, dotted.
std::string localAddressOf(int fd);

} // namespace benchsim
