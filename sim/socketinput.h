// What one client sends, read through a read-ahead buffer for the
// simulator's protocol readers (ONC RPC records, HiSLIP messages): small
// messages come in one recv, a long rest goes straight from the socket to
// where it belongs. How to wait is the reader's: a waitReady() that returns
// true once the socket is readable and false to give up (hang-up, server
// stopping, deadline).
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <sys/socket.h>
#include <sys/types.h>

namespace benchsim {

class SocketInput {
public:
    SocketInput(int fd, size_t readAhead) : fd_(fd), in_(readAhead) {}

    // Refills the empty read-ahead: true with bytes in it.
    template <class WaitReady>
    bool fill(WaitReady waitReady);
    // n bytes into to: what was read ahead first, a long rest straight from
    // the socket.
    template <class WaitReady>
    bool read(void *to, size_t n, WaitReady waitReady);
    template <class WaitReady>
    bool drop(uint64_t n, WaitReady waitReady);

    // Read ahead and not taken yet.
    size_t buffered() const { return end_ - begin_; }
    const uint8_t *data() const { return in_.data() + begin_; }
    void consume(size_t n) { begin_ += n; }

private:
    static bool failed(ssize_t got) { return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR); }

    int fd_;
    std::vector<uint8_t> in_; // [begin_, end_) received ahead
    size_t begin_ = 0, end_ = 0;
};

template <class WaitReady>
bool SocketInput::fill(WaitReady waitReady)
{
    begin_ = end_ = 0;
    for (;;) {
        if (!waitReady())
            return false;
        const ssize_t got = ::recv(fd_, in_.data(), in_.size(), 0);
        if (got > 0) {
            end_ = size_t(got);
            return true;
        }
        if (failed(got))
            return false;
    }
}

template <class WaitReady>
bool SocketInput::read(void *dst, size_t n, WaitReady waitReady)
{
    auto *to = static_cast<uint8_t *>(dst);
    while (n > 0) {
        if (begin_ == end_) {
            if (n < in_.size()) {
                if (!fill(waitReady))
                    return false;
            } else {
                if (!waitReady())
                    return false;
                const ssize_t got = ::recv(fd_, to, n, 0);
                if (failed(got))
                    return false;
                if (got > 0) {
                    to += got;
                    n -= size_t(got);
                }
                continue;
            }
        }
        const size_t take = std::min(n, end_ - begin_);
        std::memcpy(to, in_.data() + begin_, take);
        begin_ += take;
        to += take;
        n -= take;
    }
    return true;
}

template <class WaitReady>
bool SocketInput::drop(uint64_t n, WaitReady waitReady)
{
    while (n > 0) {
        if (begin_ == end_ && !fill(waitReady))
            return false;
        const size_t take = size_t(std::min<uint64_t>(n, end_ - begin_));
        begin_ += take;
        n -= take;
    }
    return true;
}

} // namespace benchsim
