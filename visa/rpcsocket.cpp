#include "visa/rpcsocket.h"

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

namespace oncrpc {

Deadline Deadline::after(int64_t ms)
{
    Deadline d;
    d.infinite_ = false;
    d.at_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    return d;
}

int Deadline::pollMs() const
{
    if (infinite_)
        return -1;
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(at_ - std::chrono::steady_clock::now()).count();
    if (left <= 0)
        return 0;
    int64_t ms = (left + 999) / 1000;
    return ms > 0x7fffffff ? 0x7fffffff : static_cast<int>(ms);
}

bool Deadline::expired() const
{
    return !infinite_ && std::chrono::steady_clock::now() >= at_;
}

namespace {

bool fillAddress(const addrinfo *ai, Address *out)
{
    if (!ai || ai->ai_addrlen > sizeof(out->addr))
        return false;
    std::memcpy(&out->addr, ai->ai_addr, ai->ai_addrlen);
    out->len = ai->ai_addrlen;
    return true;
}

// getaddrinfo cannot be cancelled; a slow look-up finishes on its own thread
// and its result is dropped if nobody waits any more.
struct Lookup {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    bool found = false;
    Address result;
};

} // namespace

bool resolveHost(const std::string &host, uint16_t port, Deadline deadline, Address *out)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    const std::string service = std::to_string(port);
    addrinfo *res = nullptr;
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &res) == 0) {
        bool ok = fillAddress(res, out);
        freeaddrinfo(res);
        return ok;
    }

    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host, service] {
        addrinfo h{};
        h.ai_family = AF_UNSPEC;
        h.ai_socktype = SOCK_STREAM;
        h.ai_flags = AI_NUMERICSERV;
        addrinfo *r = nullptr;
        Address a;
        bool found = getaddrinfo(host.c_str(), service.c_str(), &h, &r) == 0 && fillAddress(r, &a);
        if (r)
            freeaddrinfo(r);
        std::lock_guard<std::mutex> lock(lookup->m);
        lookup->done = true;
        lookup->found = found;
        lookup->result = a;
        lookup->cv.notify_all();
    }).detach();

    std::unique_lock<std::mutex> lock(lookup->m);
    auto ready = [&] { return lookup->done; };
    int ms = deadline.pollMs();
    if (ms < 0)
        lookup->cv.wait(lock, ready);
    else if (!lookup->cv.wait_for(lock, std::chrono::milliseconds(ms), ready))
        return false;
    if (lookup->found)
        *out = lookup->result;
    return lookup->found;
}

int connectTcp(const Address &to, Deadline deadline)
{
    int fd = ::socket(to.addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&to.addr), to.len) != 0) {
        if (errno != EINPROGRESS) {
            ::close(fd);
            return -1;
        }
        pollfd p{fd, POLLOUT, 0};
        int n;
        do
            n = ::poll(&p, 1, deadline.pollMs());
        while (n < 0 && errno == EINTR);
        int err = 0;
        socklen_t len = sizeof err;
        if (n <= 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
            ::close(fd);
            return -1;
        }
    }
    // Calls are small request/response pairs: send each at once.
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

IoResult sendAll(int fd, const uint8_t *data, size_t len, Deadline deadline, size_t *sent)
{
    if (sent)
        *sent = 0;
    while (len > 0) {
        ssize_t n = ::send(fd, data, len, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            data += n;
            len -= static_cast<size_t>(n);
            if (sent)
                *sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return IoResult::Closed;
        pollfd p{fd, POLLOUT, 0};
        int r = ::poll(&p, 1, deadline.pollMs());
        if (r == 0)
            return IoResult::Timeout;
        if (r < 0 && errno != EINTR)
            return IoResult::Closed;
    }
    return IoResult::Ok;
}

IoResult receiveRecord(int fd, RecordAssembler &assembler, Bytes *out, Deadline deadline)
{
    uint8_t buf[65536];
    for (;;) {
        if (assembler.next(out))
            return IoResult::Ok;
        if (assembler.failed())
            return IoResult::Protocol;
        ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            assembler.feed(buf, static_cast<size_t>(n));
            continue;
        }
        if (n == 0)
            return IoResult::Closed;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return IoResult::Closed;
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, deadline.pollMs());
        if (r == 0)
            return IoResult::Timeout;
        if (r < 0 && errno != EINTR)
            return IoResult::Closed;
    }
}

RpcClient::RpcClient(int fd, uint32_t firstXid)
    : fd_(fd), xid_(firstXid), assembler_(1u << 20)
{
}

RpcClient::~RpcClient() { close(); }

void RpcClient::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

IoResult RpcClient::call(uint32_t prog, uint32_t vers, uint32_t proc, const Bytes &args, Deadline deadline,
                         Bytes *results)
{
    if (fd_ < 0)
        return IoResult::Closed;
    const uint32_t xid = ++xid_;
    Bytes frame = frameRecord(encodeCall(xid, prog, vers, proc, args));
    size_t sent = 0;
    IoResult io = sendAll(fd_, frame.data(), frame.size(), deadline, &sent);
    if (io == IoResult::Timeout && sent > 0) {
        close(); // half a record on the wire: the stream cannot be resumed
        return IoResult::Timeout;
    }
    while (io == IoResult::Ok) {
        Bytes msg;
        io = receiveRecord(fd_, assembler_, &msg, deadline);
        if (io != IoResult::Ok)
            break;
        XdrReader r(msg);
        ReplyHeader h;
        if (!decodeReply(r, &h))
            return IoResult::Protocol;
        if (h.xid != xid)
            continue; // the late answer to an earlier call
        if (!h.success())
            return IoResult::Rejected; // e.g. an instrument without device_local
        results->assign(r.pos(), r.pos() + r.remaining());
        return IoResult::Ok;
    }
    // Once the stream is out of step or gone, nothing more can be read from it.
    if (io == IoResult::Closed || io == IoResult::Protocol)
        close();
    return io;
}

} // namespace oncrpc
