// Raw SCPI socket transport (TCPIP::host::port::SOCKET).

#include "visa/deadline.h"
#include "visa/messagedelimiter.h"
#include "visa/receivebuffer.h"
#include "visa/tcpconnect.h"
#include "visa/timedreceive.h"
#include "visa/transport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace visa {

namespace {

// Read-ahead for text, where the end of a message is only known once its
// line feed is seen: a short reply or a block header arrives in the first
// piece, longer text in full-size ones.
constexpr size_t RxCapacity = 64 * 1024;
constexpr size_t FirstPiece = 4 * 1024;

class SocketTransport : public Transport {
public:
    explicit SocketTransport(int fd) : fd_(fd), rxBuffer_(RxCapacity), rx_(rxBuffer_.data())
    {
        receiver_.attach(fd);
    }
    ~SocketTransport() override { close(); }
    // False when the read-ahead could not be allocated.
    bool valid() const { return rx_ != nullptr; }

    using Transport::read;
    ViStatus write(const ViByte *buf, ViUInt32 cnt, ViUInt32 *ret, ViUInt32 timeoutMs) override;
    ViStatus read(ReadTarget &to, ViUInt32 cnt, ViUInt32 *ret, ViUInt32 timeoutMs) override;

    // A raw socket has no remote/local state and no message for it: the
    // instrument's front panel stays as it is. Nothing is sent.
    ViStatus gotoLocal(ViUInt32) override { return fd_ >= 0 ? VI_SUCCESS : VI_ERROR_CONN_LOST; }

    ViStatus close() override
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        return VI_SUCCESS;
    }

private:
    ViStatus discardStaleInput(const Deadline &deadline);
    // One receive of at most len bytes into dst, waiting until the deadline:
    // VI_SUCCESS with *got > 0, VI_ERROR_TMO, VI_ERROR_CONN_LOST or VI_ERROR_IO.
    // firstWait: the read's first.
    ViStatus receive(ViByte *dst, size_t len, const Deadline &deadline, bool firstWait, size_t *got);

    int fd_;
    bool peerClosed_ = false;
    bool pollFirst_ = true; // the socket was found drained: wait before receiving
    TimedReceiver receiver_;
    ReceiveBuffer rxBuffer_;
    ViByte *rx_; // received, not yet delivered: rx_[rxPos_, rxEnd_)
    size_t rxPos_ = 0;
    size_t rxEnd_ = 0;
    MessageDelimiter delimiter_;
};

ViStatus errnoStatus(int err)
{
    switch (err) {
    case EPIPE:
    case ECONNRESET:
    case ECONNABORTED:
    case ENOTCONN:
    case ETIMEDOUT: // keep-alive or retransmission gave up
    case EHOSTUNREACH:
    case ENETUNREACH:
        return VI_ERROR_CONN_LOST;
    default:
        return VI_ERROR_IO;
    }
}

// Waits until the socket is ready for events; VI_SUCCESS, VI_ERROR_TMO or VI_ERROR_IO.
ViStatus waitFor(int fd, short events, const Deadline &deadline)
{
    pollfd p{fd, events, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, deadline.pollMs());
    } while (rc < 0 && errno == EINTR);
    if (rc == 0)
        return VI_ERROR_TMO;
    return rc < 0 ? VI_ERROR_IO : VI_SUCCESS;
}

ViStatus SocketTransport::receive(ViByte *dst, size_t len, const Deadline &deadline, bool firstWait, size_t *got)
{
    *got = 0;
    for (;;) {
        ssize_t n;
        if (pollFirst_) {
            iovec v{dst, len};
            msghdr m{};
            m.msg_iov = &v;
            m.msg_iovlen = 1;
            n = receiver_.receive(fd_, &m, deadline.pollMs(), firstWait);
            firstWait = false;
        } else {
            n = ::recv(fd_, dst, len, MSG_DONTWAIT);
        }
        if (n > 0) {
            *got = size_t(n);
            // A receive that filled all it was offered likely left more
            // waiting: try the next one before waiting.
            pollFirst_ = size_t(n) < len;
            return VI_SUCCESS;
        }
        if (n == 0) {
            peerClosed_ = true;
            return VI_ERROR_CONN_LOST;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return errnoStatus(errno);
        if (pollFirst_ && deadline.expired())
            return VI_ERROR_TMO;
        pollFirst_ = true;
    }
}

// A reply that arrived after its query timed out, or the unread rest of a
// message, must not be taken as the answer to the command about to be sent.
// Input that keeps arriving faster than it is dropped ends at the deadline.
ViStatus SocketTransport::discardStaleInput(const Deadline &deadline)
{
    rxPos_ = rxEnd_ = 0;
    delimiter_.reset();
    pollFirst_ = true; // the reply to what is sent next cannot be there yet
    while (true) {
        const ssize_t n = ::recv(fd_, rx_, RxCapacity, MSG_DONTWAIT);
        if (n > 0) {
            if (deadline.expired())
                return VI_ERROR_TMO;
            continue;
        }
        if (n == 0) {
            peerClosed_ = true;
            return VI_ERROR_CONN_LOST;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return VI_SUCCESS;
        if (errno != EINTR)
            return errnoStatus(errno);
    }
}

ViStatus SocketTransport::write(const ViByte *buf, ViUInt32 cnt, ViUInt32 *ret, ViUInt32 timeoutMs)
{
    *ret = 0;
    if (fd_ < 0 || peerClosed_)
        return VI_ERROR_CONN_LOST;
    const Deadline deadline(timeoutMs);
    const ViStatus stale = discardStaleInput(deadline);
    if (stale != VI_SUCCESS)
        return stale;
    ViUInt32 sent = 0;
    while (sent < cnt) {
        // MSG_NOSIGNAL: a peer that has gone must give a status, not SIGPIPE.
        const ssize_t n = ::send(fd_, buf + sent, cnt - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            sent += ViUInt32(n);
            *ret = sent;
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return errnoStatus(errno);
        const ViStatus status = waitFor(fd_, POLLOUT, deadline);
        if (status != VI_SUCCESS)
            return status;
    }
    return VI_SUCCESS;
}

ViStatus SocketTransport::read(ReadTarget &to, ViUInt32 cnt, ViUInt32 *ret, ViUInt32 timeoutMs)
{
    *ret = 0;
    if (fd_ < 0)
        return VI_ERROR_CONN_LOST;
    const Deadline deadline(timeoutMs);
    ViUInt32 got = 0;
    bool received = false;
    while (true) {
        // Input already received goes first.
        while (rxPos_ < rxEnd_ && got < cnt) {
            size_t len = 0;
            ViByte *dst = to.room(std::min<size_t>(rxEnd_ - rxPos_, cnt - got), &len);
            bool ended = false;
            const size_t n = delimiter_.scan(rx_ + rxPos_, len, &ended);
            std::memcpy(dst, rx_ + rxPos_, n);
            rxPos_ += n;
            got += ViUInt32(n);
            *ret = got;
            const ViStatus status = to.commit(n);
            if (status != VI_SUCCESS)
                return status;
            if (ended)
                return VI_SUCCESS;
        }
        if (got == cnt)
            return VI_SUCCESS_MAX_CNT; // the rest stays for the next read
        if (peerClosed_)
            return VI_ERROR_CONN_LOST;
        // Also while data keeps arriving: an instrument that never stops
        // sending must not hold the caller past the time-out.
        if (received && deadline.expired())
            return VI_ERROR_TMO;
        const bool firstWait = !received;
        received = true;

        const uint64_t block = delimiter_.blockDataLeft();
        if (block == 0) {
            rxPos_ = rxEnd_ = 0;
            const size_t want = delimiter_.atMessageStart() ? FirstPiece : RxCapacity;
            const ViStatus status = receive(rx_, want, deadline, firstWait, &rxEnd_);
            if (status != VI_SUCCESS)
                return status;
            continue;
        }
        // Inside a block its bytes, and the one after it, go straight to
        // the target: they belong to this message whatever they hold.
        size_t len = 0;
        ViByte *dst = to.room(size_t(std::min<uint64_t>(cnt - got, block + 1)), &len);
        size_t n = 0;
        ViStatus status = receive(dst, len, deadline, firstWait, &n);
        if (status != VI_SUCCESS)
            return status;
        bool ended = false;
        delimiter_.scan(dst, n, &ended);
        got += ViUInt32(n);
        *ret = got;
        status = to.commit(n);
        if (status != VI_SUCCESS)
            return status;
        if (ended)
            return VI_SUCCESS;
    }
}

} // namespace

std::unique_ptr<Transport> openSocketTransport(const Resource &rsrc, ViUInt32 openTimeoutMs, ViStatus *status)
{
    const int fd = tcpConnect(rsrc.host, rsrc.port, openTimeoutMs, status);
    if (fd < 0)
        return nullptr;
    auto t = std::make_unique<SocketTransport>(fd);
    if (!t->valid()) {
        *status = VI_ERROR_ALLOC;
        return nullptr;
    }
    return t;
}

} // namespace visa
