#include "sim/socketserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace benchsim {

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
    acceptThread_ = std::thread([this] { acceptLoop(); });
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

bool SocketServer::waitReadable(int fd, int timeoutMs)
{
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const int n = poll(fds, fd >= 0 ? 2 : 1, timeoutMs);
    (void)n;
    return !stopping_ && fd >= 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR));
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
        if (!waitReadable(listenFd_, -1))
            continue;
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            // Out of descriptors the pending connection stays, and with it a
            // readable listener: pause instead of spinning (stop() cuts it short).
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                pollfd wake = {wakeFd_, POLLIN, 0};
                poll(&wake, 1, 100);
            }
            continue;
        }
        // Replies are whole messages: send them at once.
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        reapFinished();
        auto conn = std::make_unique<Connection>();
        conn->fd = fd;
        Connection *raw = conn.get();
        std::lock_guard<std::mutex> lock(mutex_);
        connections_.push_back(std::move(conn));
        raw->thread = std::thread([this, raw] { serve(raw); });
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
        pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd_, POLLIN, 0}};
        poll(fds, 2, -1);
        if (stopping_)
            return false;
    }
    return true;
}

void SocketServer::serve(Connection *conn)
{
    const int fd = conn->fd;
    QByteArray pending;
    bool open = true;
    while (open && !stopping_) {
        int lf = pending.indexOf('\n');
        if (lf < 0 && pending.size() < MaxProgramMessage) {
            if (!waitReadable(fd, -1))
                continue;
            char buf[65536];
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
                break;
            if (n > 0)
                pending.append(buf, int(n));
            continue;
        }
        if (lf < 0)
            lf = pending.size();
        QByteArray message = pending.left(lf);
        pending.remove(0, lf + 1);
        if (message.endsWith('\r'))
            message.chop(1);
        if (message.trimmed().isEmpty())
            continue;

        const Response r = endpoint_->handle(message);
        // The instrument is busy until its response is ready; stop() cuts the wait short.
        if (r.delayMs > 0) {
            pollfd wake = {wakeFd_, POLLIN, 0};
            poll(&wake, 1, r.delayMs);
        }
        switch (r.action) {
        case Response::Action::Reply:
            open = sendAll(fd, r.bytes);
            break;
        case Response::Action::Close:
            open = false;
            break;
        case Response::Action::None:
        case Response::Action::DeviceError:
            break;
        }
    }
    shutdown(fd, SHUT_RDWR);
    ::close(fd);
    conn->done = true;
}

} // namespace benchsim
