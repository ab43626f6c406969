#include "visa/hislipreader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/socket.h>

namespace visa {

ViStatus HislipReader::receive(int fd, iovec *iov, int iovCount, size_t *got, const Deadline &deadline)
{
    size_t room = 0;
    for (int i = 0; i < iovCount; ++i)
        room += iov[i].iov_len;
    for (;;) {
        // Looked at before every receive, not only when one would wait: a
        // peer that keeps sending what never completes the awaited answer
        // is cut off at the deadline too.
        if (deadline.expired())
            return VI_ERROR_TMO;
        msghdr m{};
        m.msg_iov = iov;
        m.msg_iovlen = size_t(iovCount);
        ssize_t n;
        if (pollFirst_) {
            n = receiver_.receive(fd, &m, deadline.pollMs(), firstWait_);
            firstWait_ = false;
        } else {
            n = ::recvmsg(fd, &m, MSG_DONTWAIT);
        }
        if (n > 0) {
            *got = size_t(n);
            // A receive that filled all it was offered likely left more
            // waiting: try the next one before waiting.
            pollFirst_ = size_t(n) < room;
            return VI_SUCCESS;
        }
        if (n == 0)
            return VI_ERROR_CONN_LOST;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return VI_ERROR_CONN_LOST;
        if (pollFirst_ && deadline.expired())
            return VI_ERROR_TMO;
        pollFirst_ = true;
    }
}

ViStatus HislipReader::fillAhead(int fd, const Deadline &deadline)
{
    aheadPos_ = aheadEnd_ = 0;
    iovec v{ahead_, Ahead};
    size_t n = 0;
    const ViStatus status = receive(fd, &v, 1, &n, deadline);
    if (status == VI_SUCCESS)
        aheadEnd_ = n;
    return status;
}

ViStatus HislipReader::nextHeader(int fd, hislip::Header *out, const Deadline &deadline)
{
    while (payloadLeft_ > 0) {
        size_t got = 0;
        const ViStatus status = payload(fd, nullptr, size_t(std::min<uint64_t>(payloadLeft_, SIZE_MAX)), &got, deadline);
        if (status != VI_SUCCESS)
            return status;
    }
    for (;;) {
        switch (header_.status()) {
        case hislip::HeaderStatus::Ok:
            *out = header_.header();
            payloadLeft_ = out->length;
            header_.reset();
            return VI_SUCCESS;
        case hislip::HeaderStatus::BadPrologue:
        case hislip::HeaderStatus::TooLong:
            return VI_ERROR_IO; // and stays so: the stream is out of step
        case hislip::HeaderStatus::Incomplete:
            break;
        }
        if (aheadPos_ < aheadEnd_) {
            aheadPos_ += header_.feed(ahead_ + aheadPos_, aheadEnd_ - aheadPos_);
            continue;
        }
        const ViStatus status = fillAhead(fd, deadline);
        if (status != VI_SUCCESS)
            return status;
    }
}

ViStatus HislipReader::payload(int fd, uint8_t *dst, size_t n, size_t *got, const Deadline &deadline)
{
    *got = 0;
    const size_t want = size_t(std::min<uint64_t>(n, payloadLeft_));
    if (want == 0)
        return VI_SUCCESS;
    size_t took = 0;
    if (aheadPos_ < aheadEnd_) {
        took = std::min(want, aheadEnd_ - aheadPos_);
        if (dst)
            std::memcpy(dst, ahead_ + aheadPos_, took);
        aheadPos_ += took;
    } else if (want >= DirectMin) {
        // Straight into the caller's memory; when this ends the payload,
        // the next header comes along in the same receive.
        uint8_t scratch[16 * 1024];
        iovec v[2] = {{dst ? dst : scratch, dst ? want : std::min(want, sizeof scratch)}, {nullptr, 0}};
        int count = 1;
        if (dst && want == payloadLeft_) {
            size_t len = 0;
            v[1].iov_base = header_.room(&len);
            v[1].iov_len = len;
            count = len > 0 ? 2 : 1;
        }
        size_t r = 0;
        const ViStatus status = receive(fd, v, count, &r, deadline);
        if (status != VI_SUCCESS)
            return status;
        took = std::min(r, v[0].iov_len);
        if (r > took)
            header_.received(r - took);
    } else {
        const ViStatus status = fillAhead(fd, deadline);
        if (status != VI_SUCCESS)
            return status;
        took = std::min(want, aheadEnd_);
        if (dst)
            std::memcpy(dst, ahead_, took);
        aheadPos_ = took;
    }
    payloadLeft_ -= took;
    *got = took;
    return VI_SUCCESS;
}

ViStatus HislipReader::payloadAll(int fd, uint8_t *dst, size_t n, const Deadline &deadline)
{
    size_t done = 0;
    while (done < n) {
        size_t got = 0;
        const ViStatus status = payload(fd, dst ? dst + done : nullptr, n - done, &got, deadline);
        if (status != VI_SUCCESS)
            return status;
        if (got == 0)
            return VI_ERROR_IO; // asked for more than the payload holds
        done += got;
    }
    return VI_SUCCESS;
}

bool HislipReader::pending(int fd) const
{
    if (aheadPos_ < aheadEnd_ || header_.started() || payloadLeft_ > 0)
        return true;
    uint8_t probe;
    const ssize_t n = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    // A closed or failed connection counts too: the next receive tells which.
    return n > 0 || n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

} // namespace visa
