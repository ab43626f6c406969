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
#include <sys/uio.h>
#include <unistd.h>

namespace oncrpc {

Deadline Deadline::after(int64_t ms)
{
    Deadline d;
    d.infinite_ = false;
    d.at_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    return d;
}

Deadline Deadline::plus(int64_t ms) const
{
    Deadline d = *this;
    if (!infinite_)
        d.at_ += std::chrono::milliseconds(ms);
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

int connectTcp(const Address &to, Deadline deadline, int *error)
{
    int unused = 0;
    int &why = error ? *error : unused;
    why = 0;
    int fd = ::socket(to.addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        why = errno;
        return -1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&to.addr), to.len) != 0) {
        if (errno != EINPROGRESS) {
            why = errno;
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
            why = n == 0 ? ETIMEDOUT : err != 0 ? err : errno;
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
        if (deadline.expired())
            return IoResult::Timeout;
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
    : fd_(fd), xid_(firstXid)
{
    if (fd_ >= 0)
        reader_.attach(fd_);
}

RpcClient::~RpcClient() { close(); }

void RpcClient::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    reader_.reset();
}

IoResult RpcClient::check(IoResult io)
{
    // Once the stream is out of step or gone, nothing more can be read from it.
    if (io == IoResult::Closed || io == IoResult::Protocol)
        close();
    return io;
}

namespace {

void putU32(Bytes &b, uint32_t v)
{
    const uint8_t w[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    b.insert(b.end(), w, w + 4);
}

// sendmsg() until every iovec has gone; iov is advanced in place.
IoResult sendVector(int fd, iovec *iov, int count, const Deadline &deadline, size_t *sent)
{
    *sent = 0;
    while (count > 0) {
        msghdr m{};
        m.msg_iov = iov;
        m.msg_iovlen = size_t(count);
        const ssize_t n = ::sendmsg(fd, &m, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            *sent += size_t(n);
            size_t left = size_t(n);
            while (count > 0 && left >= iov->iov_len) {
                left -= iov->iov_len;
                ++iov;
                --count;
            }
            if (count > 0) {
                iov->iov_base = static_cast<uint8_t *>(iov->iov_base) + left;
                iov->iov_len -= left;
            }
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return IoResult::Closed;
        pollfd p{fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, deadline.pollMs());
        if (r == 0)
            return IoResult::Timeout;
        if (r < 0 && errno != EINTR)
            return IoResult::Closed;
    }
    return IoResult::Ok;
}

} // namespace

IoResult RpcClient::send(uint32_t prog, uint32_t vers, uint32_t proc, const Bytes &args, Deadline deadline,
                         uint32_t *xid, const uint8_t *opaque, size_t opaqueLen)
{
    if (fd_ < 0)
        return IoResult::Closed;
    *xid = ++xid_;
    head_.clear();
    putU32(head_, 0); // record mark, below
    putU32(head_, *xid);
    putU32(head_, Call);
    putU32(head_, RpcVersion);
    putU32(head_, prog);
    putU32(head_, vers);
    putU32(head_, proc);
    putU32(head_, AuthNone); // credentials
    putU32(head_, 0);
    putU32(head_, AuthNone); // verifier
    putU32(head_, 0);
    head_.insert(head_.end(), args.begin(), args.end());
    const size_t pad = opaque ? (4 - opaqueLen % 4) % 4 : 0;
    if (opaque)
        putU32(head_, uint32_t(opaqueLen));
    // One fragment: callers keep an opaque far below the 2 GiB a fragment holds.
    const size_t length = head_.size() - 4 + (opaque ? opaqueLen + pad : 0);
    if (length >= LastFragment)
        return IoResult::Protocol;
    const uint32_t mark = LastFragment | uint32_t(length);
    for (int i = 0; i < 4; ++i)
        head_[size_t(i)] = uint8_t(mark >> (24 - 8 * i));

    static const uint8_t zeros[4] = {};
    iovec iov[3] = {{head_.data(), head_.size()},
                    {const_cast<uint8_t *>(opaque), opaque ? opaqueLen : 0},
                    {const_cast<uint8_t *>(zeros), pad}};
    size_t sent = 0;
    reader_.expectReply();
    const IoResult io = sendVector(fd_, iov, opaque ? 3 : 1, deadline, &sent);
    if (io == IoResult::Timeout && sent > 0) {
        close(); // half a record on the wire: the stream cannot be resumed
        return IoResult::Timeout;
    }
    return check(io);
}

IoResult RpcClient::awaitReply(uint32_t xid, Deadline deadline)
{
    if (fd_ < 0)
        return IoResult::Closed;
    for (;;) {
        // Whatever is left of an earlier reply (one that timed out, one
        // read only in part, or one to another call) goes first.
        IoResult io = reader_.next(fd_, deadline);
        uint32_t replyXid = 0, type = 0;
        if (io == IoResult::Ok)
            io = reader_.u32(fd_, &replyXid, deadline);
        if (io == IoResult::Ok)
            io = reader_.u32(fd_, &type, deadline);
        if (io != IoResult::Ok)
            return check(io);
        if (type != Reply)
            return check(IoResult::Protocol);
        if (replyXid != xid)
            continue; // the late answer to an earlier call
        uint32_t replyStat = 0, flavour = 0, verifierLen = 0, acceptStat = 0;
        io = reader_.u32(fd_, &replyStat, deadline);
        if (io == IoResult::Ok && replyStat == MsgAccepted) {
            io = reader_.u32(fd_, &flavour, deadline);
            if (io == IoResult::Ok)
                io = reader_.u32(fd_, &verifierLen, deadline);
            if (io == IoResult::Ok && verifierLen > MaxAuthBody)
                io = IoResult::Protocol;
            if (io == IoResult::Ok)
                io = reader_.read(fd_, nullptr, (verifierLen + 3) & ~3u, deadline);
            if (io == IoResult::Ok)
                io = reader_.u32(fd_, &acceptStat, deadline);
        }
        if (io != IoResult::Ok)
            return check(io);
        if (replyStat == MsgAccepted && acceptStat == Success)
            return IoResult::Ok;
        // A refusal (no such procedure, ...): the stream stays usable.
        io = reader_.next(fd_, deadline);
        return io == IoResult::Ok ? IoResult::Rejected : check(io);
    }
}

IoResult RpcClient::readResults(uint8_t *dst, size_t n, Deadline deadline)
{
    if (fd_ < 0)
        return IoResult::Closed;
    return check(reader_.read(fd_, dst, n, deadline));
}

IoResult RpcClient::readResult(uint32_t *v, Deadline deadline)
{
    if (fd_ < 0)
        return IoResult::Closed;
    return check(reader_.u32(fd_, v, deadline));
}

IoResult RpcClient::endReply(Deadline deadline)
{
    if (fd_ < 0)
        return IoResult::Closed;
    return check(reader_.next(fd_, deadline));
}

IoResult RpcClient::call(uint32_t prog, uint32_t vers, uint32_t proc, const Bytes &args, Deadline deadline,
                         Bytes *results, const uint8_t *opaque, size_t opaqueLen)
{
    uint32_t xid = 0;
    IoResult io = send(prog, vers, proc, args, deadline, &xid, opaque, opaqueLen);
    if (io == IoResult::Ok)
        io = awaitReply(xid, deadline);
    if (io != IoResult::Ok)
        return io;
    results->clear();
    return check(reader_.readRest(fd_, results, maxResults_, deadline));
}

} // namespace oncrpc
