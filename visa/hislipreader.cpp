#include "visa/hislipreader.h"

#include <algorithm>
#include <cerrno>

#include <sys/socket.h>

namespace visa {

namespace {

ViStatus StatusOf(Received r)
{
    switch (r) {
    case Received::Ok:
        return VI_SUCCESS;
    case Received::Timeout:
        return VI_ERROR_TMO;
    case Received::Closed:
        break;
    }
    return VI_ERROR_CONN_LOST;
}

} // namespace

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
        if (in_.buffered() > 0) {
            in_.consume(header_.feed(in_.data(), in_.buffered()));
            continue;
        }
        const ViStatus status = StatusOf(in_.fill(fd, deadline));
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
    if (in_.buffered() > 0) {
        took = in_.take(dst, want);
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
        const ViStatus status = StatusOf(in_.receive(fd, v, count, &r, deadline));
        if (status != VI_SUCCESS)
            return status;
        took = std::min(r, v[0].iov_len);
        if (r > took)
            header_.received(r - took);
    } else {
        const ViStatus status = StatusOf(in_.fill(fd, deadline));
        if (status != VI_SUCCESS)
            return status;
        took = in_.take(dst, want);
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
    if (in_.buffered() > 0 || header_.started() || payloadLeft_ > 0)
        return true;
    uint8_t probe;
    const ssize_t n = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    // A closed or failed connection counts too: the next receive tells which.
    return n > 0 || n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

} // namespace visa
