#include "sim/connectionserver.h"

#include "sim/endpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

namespace benchsim {

namespace {

std::string errnoText(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

int boundSocket(int type, const std::string &ip, uint16_t port, uint16_t *boundPort, std::string *error)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (::inet_pton(AF_INET, ip.c_str(), &sa.sin_addr) != 1) {
        *error = "not an IPv4 address: " + ip;
        return -1;
    }
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = errnoText("socket");
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        *error = errnoText("bind " + ip + ":" + std::to_string(port));
        ::close(fd);
        return -1;
    }
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len);
    *boundPort = ntohs(sa.sin_port);
    return fd;
}

std::string localAddressOf(int fd)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    char text[INET_ADDRSTRLEN] = {};
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len) == 0)
        ::inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
    return text;
}

ConnectionServer::~ConnectionServer() { stop(); }

bool ConnectionServer::listen(const std::string &ip, uint16_t port, Serve serve, std::string *error)
{
    auto fail = [&](const std::string &what) {
        *error = what;
        closeFd(listenFd_);
        closeFd(wakeFd_);
        return false;
    };
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0)
        return fail(errnoText("eventfd"));
    listenFd_ = boundSocket(SOCK_STREAM, ip, port, &port_, error);
    if (listenFd_ < 0)
        return fail(*error);
    if (::listen(listenFd_, 16) != 0)
        return fail(errnoText("listen"));
    serve_ = std::move(serve);
    try {
        acceptThread_ = std::thread(&ConnectionServer::acceptLoop, this);
    } catch (const std::exception &e) {
        return fail(std::string("thread: ") + e.what());
    }
    return true;
}

void ConnectionServer::pause(int ms) const
{
    pollfd wake{wakeFd_, POLLIN, 0};
    ::poll(&wake, 1, ms);
}

void ConnectionServer::acceptLoop()
{
    while (!stopping_) {
        pollfd p[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        const int n = ::poll(p, 2, -1);
        if (stopping_ || (n < 0 && errno != EINTR))
            return;
        if (n <= 0 || !p[0].revents)
            continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            // Out of descriptors the pending connection stays, and with it a
            // readable listener: pause instead of spinning (stop() cuts it short).
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                pause(100);
            continue;
        }
        // Replies are whole messages: send them at once.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        reapFinished();
        admit(fd);
    }
}

void ConnectionServer::reapFinished()
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

void ConnectionServer::admit(int fd)
{
    bool refused = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || int(connections_.size()) >= MaxConnections) {
            if (!stopping_ && !refusal_.empty())
                (void)!::send(fd, refusal_.data(), refusal_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            ::close(fd);
            return;
        }
        Connection *c = nullptr;
        try {
            connections_.push_back(std::make_unique<Connection>());
            c = connections_.back().get();
            c->fd = fd;
            c->thread = std::thread(&ConnectionServer::run, this, c);
        } catch (const std::exception &) {
            // No thread (or no memory) for one more connection: this one is
            // refused, the others go on.
            if (c)
                connections_.pop_back();
            ::close(fd);
            refused = true;
        }
    }
    // Keeps a client that retries at once from turning refusals into a busy loop.
    if (refused)
        pause(100);
}

void ConnectionServer::run(Connection *conn)
{
    try {
        serve_(conn->fd);
    } catch (const std::exception &) {
        // Out of memory while serving: this connection ends (with whatever
        // it held), the server goes on.
    }
    // Under the lock: stop() shuts down the descriptors it finds open, and
    // this number may belong to someone else once closed.
    std::lock_guard<std::mutex> lock(mutex_);
    ::shutdown(conn->fd, SHUT_RDWR);
    closeFd(conn->fd);
    conn->done = true;
}

void ConnectionServer::stop()
{
    if (stopping_.exchange(true))
        return;
    if (wakeFd_ >= 0) {
        const uint64_t one = 1;
        (void)!::write(wakeFd_, &one, sizeof one);
    }
    if (acceptThread_.joinable())
        acceptThread_.join();
    std::list<std::unique_ptr<Connection>> connections;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto &c : connections_) {
            if (c->fd >= 0)
                ::shutdown(c->fd, SHUT_RDWR);
        }
        connections.swap(connections_);
    }
    for (auto &c : connections)
        c->thread.join();
    closeFd(listenFd_);
    closeFd(wakeFd_);
}

} // namespace benchsim
