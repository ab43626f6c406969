// Raw SCPI socket server for one instrument: line-feed-terminated program
// messages in, responses out, one thread per connection. Messages of one
// connection are handled in order; the instrument serialises connections.
#pragma once

#include "sim/connectionserver.h"
#include "sim/endpoint.h"

#include <QString>

namespace benchsim {

class SocketServer {
public:
    explicit SocketServer(Endpoint *endpoint);
    ~SocketServer();
    SocketServer(const SocketServer &) = delete;
    SocketServer &operator=(const SocketServer &) = delete;

    // Listens on 127.0.0.1:port (0 picks a free port).
    bool listen(quint16 port, QString *error);
    quint16 port() const { return server_.port(); }
    // Closes the listener and every connection, joins every thread.
    void stop();

private:
    void serveMessages(int fd);
    bool waitReadable(int fd);
    bool waitDelay(int fd, int delayMs);
    bool sendAll(int fd, const QByteArray &bytes);

    Endpoint *endpoint_;
    ConnectionServer server_;
};

} // namespace benchsim
