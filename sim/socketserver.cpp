#include "sim/socketserver.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace benchsim {

namespace {
// Bytes asked of the kernel per recv: a megabyte message comes in 16 reads.
constexpr int ReceiveChunk = 64 * 1024;
// How long a response delay goes on once the client has hung up.
constexpr qint64 HalfClosedGraceMs = 1000;
} // namespace

SocketServer::SocketServer(Endpoint *endpoint) : endpoint_(endpoint) {}

SocketServer::~SocketServer()
{
    stop();
}

bool SocketServer::listen(quint16 port, QString *error)
{
    std::string e;
    if (server_.listen("127.0.0.1", port, [this](int fd) { serveMessages(fd); }, &e))
        return true;
    if (error)
        *error = QString::fromStdString(e);
    return false;
}

void SocketServer::stop()
{
    server_.stop();
}

// Waits for input on fd (or a hang-up); false once stop() has begun.
bool SocketServer::waitReadable(int fd)
{
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {server_.wakeFd(), POLLIN, 0}};
        const int n = poll(fds, 2, -1);
        if (server_.stopping())
            return false;
        if (n > 0 && fds[0].revents)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

// Sleeps for a response's delay; stop() cuts it short, and so does the
// client hanging up: a reply an hour late is not waited for by a thread and
// a socket once nobody is there to read it. TCP cannot tell a client that
// is gone from one that only shut its sending side ("nc -N"), so a reply
// due within HalfClosedGraceMs is still sent to either.
bool SocketServer::waitDelay(int fd, int delayMs)
{
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + std::chrono::milliseconds(delayMs);
    bool clientGone = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0)
            return true;
        if (clientGone && left > HalfClosedGraceMs)
            return false;
        pollfd fds[2] = {{server_.wakeFd(), POLLIN, 0}, {fd, POLLRDHUP, 0}};
        const int n = poll(fds, clientGone ? 1 : 2, int(std::min<qint64>(left, 1 << 30)));
        if (server_.stopping() || (n < 0 && errno != EINTR))
            return false;
        if (n > 0 && fds[1].revents)
            clientGone = true;
    }
}

bool SocketServer::sendAll(int fd, const QByteArray &bytes)
{
    qint64 sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        pollfd fds[2] = {{fd, POLLOUT, 0}, {server_.wakeFd(), POLLIN, 0}};
        poll(fds, 2, -1);
        if (server_.stopping())
            return false;
    }
    return true;
}

void SocketServer::serveMessages(int fd)
{
    // Received bytes; the next message starts at start, and no line feed
    // lies between start and scanned. Handled bytes are dropped only before
    // the next recv, so a buffer of many short messages is not shifted once
    // per message.
    QByteArray pending;
    int start = 0, scanned = 0;
    while (!server_.stopping()) {
        int end = pending.indexOf('\n', scanned);
        const bool terminated = end >= 0;
        if (!terminated && pending.size() - start >= MaxProgramMessage)
            end = start + MaxProgramMessage; // a message without end is handed over in pieces
        if (end < 0) {
            pending.remove(0, start);
            scanned = pending.size();
            start = 0;
            if (!waitReadable(fd))
                return;
            const int had = pending.size();
            pending.resize(had + ReceiveChunk);
            const ssize_t n = recv(fd, pending.data() + had, ReceiveChunk, 0);
            pending.resize(had + int(std::max<ssize_t>(n, 0)));
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
                return;
            continue;
        }
        QByteArray message = pending.mid(start, end - start);
        start = scanned = end + (terminated ? 1 : 0);
        if (message.endsWith('\r'))
            message.chop(1);
        if (message.trimmed().isEmpty())
            continue;

        const Response r = endpoint_->handle(message);
        // The instrument is busy until its response is ready.
        if (r.delayMs > 0 && !waitDelay(fd, r.delayMs))
            return;
        switch (r.action) {
        case Response::Action::Reply:
            if (!sendAll(fd, r.bytes))
                return;
            break;
        case Response::Action::Close:
            return;
        case Response::Action::None:
        case Response::Action::DeviceError:
            break;
        }
    }
}

} // namespace benchsim
