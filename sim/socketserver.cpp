#include "sim/socketserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <system_error>

namespace benchsim {

namespace {
// Bytes asked of the kernel per recv: a megabyte message comes in 16 reads.
constexpr int kReceiveChunk = 64 * 1024;
// How long a response delay goes on once the client has hung up.
constexpr qint64 kHalfClosedGraceMs = 1000;
} // namespace

SocketServer::SocketServer(Endpoint *endpoint) : endpoint_(endpoint) {}

SocketServer::~SocketServer()
{
    stop();
}

bool SocketServer::listen(quint16 port, QString *error)
{
    auto fail = [&](const char *what) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(strerror(errno)));
        if (listenFd_ >= 0)
            ::close(listenFd_);
        listenFd_ = -1;
        return false;
    };
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0)
        return fail("eventfd");
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0)
        return fail("socket");
    const int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listenFd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0)
        return fail("bind");
    if (::listen(listenFd_, 16) < 0)
        return fail("listen");
    socklen_t len = sizeof addr;
    if (getsockname(listenFd_, reinterpret_cast<sockaddr *>(&addr), &len) < 0)
        return fail("getsockname");
    port_ = ntohs(addr.sin_port);
    try {
        acceptThread_ = std::thread([this] { acceptLoop(); });
    } catch (const std::system_error &e) {
        errno = e.code().value();
        return fail("thread");
    }
    return true;
}

void SocketServer::stop()
{
    if (stopping_.exchange(true))
        return;
    if (wakeFd_ >= 0) {
        const uint64_t one = 1;
        ssize_t n = write(wakeFd_, &one, sizeof one);
        (void)n;
    }
    if (acceptThread_.joinable())
        acceptThread_.join();
    std::list<std::unique_ptr<Connection>> connections;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connections.swap(connections_);
    }
    for (auto &c : connections)
        c->thread.join();
    if (listenFd_ >= 0)
        ::close(listenFd_);
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
    listenFd_ = wakeFd_ = -1;
}

// Waits for input on fd (or a hang-up); false once stop() has begun.
bool SocketServer::waitReadable(int fd)
{
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        const int n = poll(fds, 2, -1);
        if (stopping_)
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
// due within kHalfClosedGraceMs is still sent to either.
bool SocketServer::waitDelay(int fd, int delayMs)
{
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + std::chrono::milliseconds(delayMs);
    bool clientGone = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0)
            return true;
        if (clientGone && left > kHalfClosedGraceMs)
            return false;
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd, POLLRDHUP, 0}};
        const int n = poll(fds, clientGone ? 1 : 2, int(std::min<qint64>(left, 1 << 30)));
        if (stopping_ || (n < 0 && errno != EINTR))
            return false;
        if (n > 0 && fds[1].revents)
            clientGone = true;
    }
}

void SocketServer::pause(int ms)
{
    pollfd wake = {wakeFd_, POLLIN, 0};
    poll(&wake, 1, ms);
}

void SocketServer::reapFinished()
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
        if ((*it)->done) {
            (*it)->thread.join();
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

void SocketServer::acceptLoop()
{
    while (!stopping_) {
        if (!waitReadable(listenFd_))
            continue;
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            // Out of descriptors the pending connection stays, and with it a
            // readable listener: pause instead of spinning (stop() cuts it short).
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                pause(100);
            continue;
        }
        reapFinished();
        admit(fd);
    }
}

void SocketServer::admit(int fd)
{
    // Replies are whole messages: send them at once.
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    bool refused = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (int(connections_.size()) >= MaxConnections) {
            ::close(fd);
            return;
        }
        Connection *raw = nullptr;
        try {
            connections_.push_back(std::make_unique<Connection>());
            raw = connections_.back().get();
            raw->fd = fd;
            raw->thread = std::thread([this, raw] { serve(raw); });
        } catch (const std::exception &) {
            // No thread (or no memory) for one more connection: this one is
            // refused, the others go on.
            if (raw)
                connections_.pop_back();
            ::close(fd);
            refused = true;
        }
    }
    // Keeps a client that retries at once from turning refusals into a busy loop.
    if (refused)
        pause(100);
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
        pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd_, POLLIN, 0}};
        poll(fds, 2, -1);
        if (stopping_)
            return false;
    }
    return true;
}

void SocketServer::serve(Connection *conn)
{
    try {
        serveMessages(conn->fd);
    } catch (const std::exception &) {
        // Out of memory while serving: this connection ends, the server goes on.
    }
    shutdown(conn->fd, SHUT_RDWR);
    ::close(conn->fd);
    conn->done = true;
}

void SocketServer::serveMessages(int fd)
{
    // Received bytes; the next message starts at start, and no line feed
    // lies between start and scanned. Handled bytes are dropped only before
    // the next recv, so a buffer of many short messages is not shifted once
    // per message.
    QByteArray pending;
    int start = 0, scanned = 0;
    while (!stopping_) {
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
            pending.resize(had + kReceiveChunk);
            const ssize_t n = recv(fd, pending.data() + had, kReceiveChunk, 0);
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
