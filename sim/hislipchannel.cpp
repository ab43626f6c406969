#include "sim/hislipchannel.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

namespace benchsim {

namespace {

// Small messages (everything but long Data) come in one recv.
constexpr size_t ReadAhead = 64 * 1024;

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int leftMs(int64_t deadlineMs)
{
    return int(std::max<int64_t>(0, deadlineMs - nowMs()));
}

enum class Wait { Ready, Closed, TimedOut };

// Waits for events on fd, or for the server to stop (Closed).
Wait waitFor(int fd, short events, int wakeFd, int timeoutMs)
{
    for (;;) {
        pollfd p[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        const int n = ::poll(p, 2, timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || p[1].revents)
            return Wait::Closed;
        if (n == 0)
            return Wait::TimedOut;
        return Wait::Ready;
    }
}

} // namespace

HislipChannel::HislipChannel(int fd, int wakeFd, uint64_t maxPayload)
    : fd_(fd), wakeFd_(wakeFd), header_(maxPayload), in_(fd, ReadAhead)
{
}

bool HislipChannel::waitReady(int64_t deadlineMs) const
{
    return waitFor(fd_, POLLIN, wakeFd_, deadlineMs < 0 ? -1 : leftMs(deadlineMs)) == Wait::Ready;
}

HislipChannel::Status HislipChannel::next(hislip::Header *header, QByteArray *payload)
{
    header_.reset();
    dropped_ = false;
    // Waiting for a message to begin takes as long as the client likes;
    // once it has begun, it is complete within StallMs.
    int64_t deadline = -1;
    while (header_.status() == hislip::HeaderStatus::Incomplete) {
        if (in_.buffered() == 0) {
            if (!in_.fill([&] { return waitReady(deadline); }))
                return deadline >= 0 && nowMs() >= deadline ? Status::Stalled : Status::Closed;
            if (deadline < 0)
                deadline = nowMs() + StallMs;
        }
        in_.consume(header_.feed(in_.data(), in_.buffered()));
    }
    if (deadline < 0)
        deadline = nowMs() + StallMs; // the whole header was read ahead
    const auto ready = [&] { return waitReady(deadline); };
    const auto complete = [&](bool ok) {
        return ok ? Status::Message : nowMs() >= deadline ? Status::Stalled : Status::Closed;
    };
    *header = header_.header();
    switch (header_.status()) {
    case hislip::HeaderStatus::BadPrologue:
        return Status::BadHeader;
    case hislip::HeaderStatus::TooLong:
        if (header->length > MaxDroppedPayload)
            return Status::TooLarge;
        if (complete(in_.drop(header->length, ready)) != Status::Message)
            return complete(false);
        dropped_ = true;
        return Status::TooLarge;
    case hislip::HeaderStatus::Ok:
    case hislip::HeaderStatus::Incomplete:
        break;
    }
    payload->resize(int(header->length));
    return complete(in_.read(payload->data(), size_t(header->length), ready));
}

HislipChannel::Pending HislipChannel::pending()
{
    if (in_.buffered() > 0)
        return Pending::Input;
    char c;
    const ssize_t n = ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0)
        return Pending::Input;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return Pending::Nothing;
    return Pending::HungUp;
}

bool HislipChannel::send(uint8_t type, uint8_t control, uint32_t param, const char *payload, size_t length)
{
    std::lock_guard<std::mutex> lock(sendMutex_);
    {
        std::lock_guard<std::mutex> state(stateMutex_);
        if (closed_)
            return false;
    }
    uint8_t head[hislip::HeaderSize];
    hislip::encodeHeader(hislip::Header{type, control, param, length}, head);
    iovec parts[2] = {{head, sizeof head}, {const_cast<char *>(payload), length}};
    iovec *iov = parts;
    size_t count = length > 0 ? 2 : 1;
    while (count > 0) {
        msghdr msg{};
        msg.msg_iov = iov;
        msg.msg_iovlen = count;
        const ssize_t n = ::sendmsg(fd_, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return false;
            if (waitFor(fd_, POLLOUT, wakeFd_, StallMs) != Wait::Ready)
                return false;
            continue;
        }
        for (size_t sent = size_t(n); sent > 0 || (count > 0 && iov->iov_len == 0);) {
            const size_t step = std::min(sent, iov->iov_len);
            iov->iov_base = static_cast<char *>(iov->iov_base) + step;
            iov->iov_len -= step;
            sent -= step;
            if (iov->iov_len == 0) {
                ++iov;
                --count;
            }
        }
    }
    return true;
}

bool HislipChannel::sendError(uint8_t type, uint8_t code)
{
    const char *text = type == hislip::FatalError ? hislip::fatalErrorText(code) : hislip::errorText(code);
    return send(type, code, 0, text, strlen(text));
}

void HislipChannel::shutdown()
{
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (!closed_)
        ::shutdown(fd_, SHUT_RDWR);
}

void HislipChannel::close()
{
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        closed_ = true;
        // A send under way on another thread fails at once.
        ::shutdown(fd_, SHUT_RDWR);
    }
    std::lock_guard<std::mutex> wait(sendMutex_);
}

} // namespace benchsim
