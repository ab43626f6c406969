// Raw SCPI socket transport (TCPIP::host::port::SOCKET).

#include "visa/deadline.h"
#include "visa/messagedelimiter.h"
#include "visa/tcpconnect.h"
#include "visa/transport.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace visa {

namespace {

class SocketTransport : public Transport {
public:
    explicit SocketTransport(int fd) : fd_(fd) {}
    ~SocketTransport() override { close(); }

    ViStatus write(const ViByte *buf, ViUInt32 cnt, ViUInt32 *ret, ViUInt32 timeoutMs) override;
    ViStatus read(ViByte *buf, ViUInt32 cnt, ViUInt32 *ret, ViUInt32 timeoutMs) override;

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
    // Waits until the socket is ready for events; VI_SUCCESS, VI_ERROR_TMO or VI_ERROR_IO.
    ViStatus waitFor(short events, const Deadline &deadline);
    // Appends what the socket holds to rx_; VI_SUCCESS (possibly nothing yet),
    // VI_ERROR_CONN_LOST or VI_ERROR_IO.
    ViStatus receive();

    int fd_;
    bool peerClosed_ = false;
    std::vector<ViByte> rx_; // received, not yet delivered
    size_t rxPos_ = 0;
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

ViStatus SocketTransport::waitFor(short events, const Deadline &deadline)
{
    pollfd p{fd_, events, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, deadline.pollMs());
    } while (rc < 0 && errno == EINTR);
    if (rc == 0)
        return VI_ERROR_TMO;
    return rc < 0 ? VI_ERROR_IO : VI_SUCCESS;
}

ViStatus SocketTransport::receive()
{
    if (rxPos_ == rx_.size()) {
        rx_.clear();
        rxPos_ = 0;
    }
    ViByte chunk[64 * 1024];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
        rx_.insert(rx_.end(), chunk, chunk + n);
        return VI_SUCCESS;
    }
    if (n == 0) {
        peerClosed_ = true;
        return VI_ERROR_CONN_LOST;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return VI_SUCCESS;
    return errnoStatus(errno);
}

// A reply that arrived after its query timed out, or the unread rest of a
// message, must not be taken as the answer to the command about to be sent.
// Input that keeps arriving faster than it is dropped ends at the deadline.
ViStatus SocketTransport::discardStaleInput(const Deadline &deadline)
{
    rx_.clear();
    rxPos_ = 0;
    delimiter_.reset();
    ViByte scratch[64 * 1024];
    while (true) {
        const ssize_t n = ::recv(fd_, scratch, sizeof scratch, MSG_DONTWAIT);
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
        const ViStatus status = waitFor(POLLOUT, deadline);
        if (status != VI_SUCCESS)
            return status;
    }
    return VI_SUCCESS;
}

ViStatus SocketTransport::read(ViByte *buf, ViUInt32 cnt, ViUInt32 *ret, ViUInt32 timeoutMs)
{
    *ret = 0;
    if (fd_ < 0)
        return VI_ERROR_CONN_LOST;
    const Deadline deadline(timeoutMs);
    ViUInt32 got = 0;
    while (true) {
        const size_t avail = std::min<size_t>(rx_.size() - rxPos_, cnt - got);
        if (avail > 0) {
            bool ended = false;
            const size_t n = delimiter_.scan(rx_.data() + rxPos_, avail, &ended);
            std::memcpy(buf + got, rx_.data() + rxPos_, n);
            got += ViUInt32(n);
            rxPos_ += n;
            *ret = got;
            if (ended)
                return VI_SUCCESS;
        }
        if (got == cnt)
            return VI_SUCCESS_MAX_CNT; // the rest stays for the next read
        if (peerClosed_)
            return VI_ERROR_CONN_LOST;
        ViStatus status = waitFor(POLLIN, deadline);
        if (status == VI_SUCCESS)
            status = receive();
        if (status != VI_SUCCESS)
            return status;
    }
}

} // namespace

std::unique_ptr<Transport> openSocketTransport(const Resource &rsrc, ViUInt32 openTimeoutMs, ViStatus *status)
{
    const int fd = tcpConnect(rsrc.host, rsrc.port, openTimeoutMs, status);
    if (fd < 0)
        return nullptr;
    return std::make_unique<SocketTransport>(fd);
}

} // namespace visa
