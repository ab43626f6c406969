// Raw SCPI socket server for one instrument: line-feed-terminated program
// messages in, responses out, one thread per connection. Messages of one
// connection are handled in order; the instrument serialises connections.
#pragma once

#include "sim/endpoint.h"

#include <QString>

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace benchsim {

class SocketServer {
public:
    explicit SocketServer(Endpoint *endpoint);
    ~SocketServer();
    SocketServer(const SocketServer &) = delete;
    SocketServer &operator=(const SocketServer &) = delete;

    // Listens on 127.0.0.1:port (0 picks a free port).
    bool listen(quint16 port, QString *error);
    quint16 port() const { return port_; }
    // Closes the listener and every connection, joins every thread.
    void stop();

private:
    struct Connection {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> done{false};
    };
    void acceptLoop();
    void admit(int fd);
    void serve(Connection *conn);
    void serveMessages(int fd);
    bool waitReadable(int fd);
    bool waitDelay(int fd, int delayMs);
    bool sendAll(int fd, const QByteArray &bytes);
    void pause(int ms);
    void reapFinished();

    Endpoint *endpoint_;
    int listenFd_ = -1;
    int wakeFd_ = -1; // eventfd, readable once stop() begins
    quint16 port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;
    std::mutex mutex_;
    std::list<std::unique_ptr<Connection>> connections_;
};

} // namespace benchsim
