#include "fuzz/loopbackpeer.h"

#include <cerrno>
#include <cstdlib>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Nothing on loopback takes this long unless the client has stopped talking.
constexpr int GiveUpMs = 5000;

bool waitFor(int fd, short events)
{
    pollfd p{fd, events, 0};
    int n;
    do
        n = ::poll(&p, 1, GiveUpMs);
    while (n < 0 && errno == EINTR);
    return n > 0;
}
} // namespace

LoopbackPeer::LoopbackPeer()
{
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0
        || ::listen(listenFd_, 4) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr *>(&sa), &len) != 0)
        std::abort();
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread(&LoopbackPeer::loop, this);
}

LoopbackPeer::~LoopbackPeer()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    cv_.notify_all();
    thread_.join();
    ::close(listenFd_);
}

void LoopbackPeer::arm(std::function<void(int)> conversation)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        conversation_ = std::move(conversation);
        armed_ = true;
        busy_ = true;
    }
    cv_.notify_all();
}

void LoopbackPeer::finish()
{
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return !busy_; });
}

void LoopbackPeer::loop()
{
    for (;;) {
        std::function<void(int)> conversation;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            cv_.wait(lock, [this] { return armed_ || stopping_; });
            if (stopping_)
                return;
            armed_ = false;
            conversation.swap(conversation_);
        }
        const int fd = acceptNext();
        if (fd >= 0) {
            conversation(fd);
            ::shutdown(fd, SHUT_WR);
            uint8_t drop[4096];
            ssize_t n = 1;
            while (n != 0 && waitFor(fd, POLLIN)) {
                n = ::recv(fd, drop, sizeof drop, 0);
                if (n < 0 && errno != EINTR)
                    break;
            }
            ::close(fd);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            busy_ = false;
        }
        cv_.notify_all();
    }
}

int LoopbackPeer::acceptNext()
{
    if (!waitFor(listenFd_, POLLIN))
        return -1;
    int fd;
    do // libFuzzer's time-out alarm interrupts blocking calls
        fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    return fd;
}

bool LoopbackPeer::sendAll(int fd, const uint8_t *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            data += n;
            size -= size_t(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!waitFor(fd, POLLOUT))
                return false;
        } else {
            return false; // the client closed: it has read all it wanted
        }
    }
    return true;
}

size_t LoopbackPeer::readAtLeast(int fd, uint8_t *buf, size_t cap, size_t n)
{
    size_t got = 0;
    while (got < n && got < cap && waitFor(fd, POLLIN)) {
        const ssize_t r = ::recv(fd, buf + got, cap - got, 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        got += size_t(r);
    }
    return got;
}
