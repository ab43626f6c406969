// The receiving side of one TCP stream as the client's message readers use
// it (HiSLIP messages, ONC RPC records): a small read-ahead for headers and
// short messages, and receives straight into the caller's memory for bulk
// data. Every receive is bounded by the caller's deadline, also while bytes
// keep coming that never complete what is awaited. Templated on the deadline
// because the VISA and the RPC layers each keep their own.
#pragma once

#include "visa/timedreceive.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <sys/socket.h>
#include <sys/uio.h>

namespace visa {

enum class Received {
    Ok,
    Timeout,
    Closed, // the peer closed or reset the connection
};

class StreamReceiver {
public:
    static constexpr size_t Ahead = 4096;

    // Takes fd over for receiving (see timedreceive.h).
    void attach(int fd) { receiver_.attach(fd); }
    // A request has gone out: the next wait is its answer's first.
    void expectReply() { firstWait_ = true; }
    // ... and the answer cannot be there yet: the next receive waits at once.
    void expectReplyNow()
    {
        firstWait_ = true;
        pollFirst_ = true;
    }
    // Forget the stream (after the connection was closed).
    void reset()
    {
        pollFirst_ = true;
        firstWait_ = false;
        pos_ = end_ = 0;
    }

    // One receive into iov, waiting until the deadline; *got > 0 on Ok.
    template <class Deadline>
    Received receive(int fd, iovec *iov, int iovCount, size_t *got, const Deadline &deadline);
    // Replaces the (empty) read-ahead with one receive's worth.
    template <class Deadline>
    Received fill(int fd, const Deadline &deadline)
    {
        pos_ = end_ = 0;
        iovec v{ahead_, Ahead};
        size_t n = 0;
        const Received r = receive(fd, &v, 1, &n, deadline);
        if (r == Received::Ok)
            end_ = n;
        return r;
    }

    // What the read-ahead holds and has not been taken yet.
    size_t buffered() const { return end_ - pos_; }
    const uint8_t *data() const { return ahead_ + pos_; }
    void consume(size_t n) { pos_ += n; }
    // Up to n held bytes into dst (null: dropped); how many.
    size_t take(uint8_t *dst, size_t n)
    {
        const size_t c = std::min(n, buffered());
        if (dst && c > 0)
            std::memcpy(dst, ahead_ + pos_, c);
        pos_ += c;
        return c;
    }

private:
    bool pollFirst_ = true; // the socket was found drained: wait before receiving
    bool firstWait_ = false;
    TimedReceiver receiver_;
    uint8_t ahead_[Ahead];
    size_t pos_ = 0;
    size_t end_ = 0;
};

template <class Deadline>
Received StreamReceiver::receive(int fd, iovec *iov, int iovCount, size_t *got, const Deadline &deadline)
{
    size_t room = 0;
    for (int i = 0; i < iovCount; ++i)
        room += iov[i].iov_len;
    for (;;) {
        // Looked at before every receive, not only when one would wait: a
        // peer that keeps sending what never completes the awaited answer
        // is cut off at the deadline too.
        if (deadline.expired())
            return Received::Timeout;
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
            return Received::Ok;
        }
        if (n == 0)
            return Received::Closed;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return Received::Closed;
        if (pollFirst_ && deadline.expired())
            return Received::Timeout;
        pollFirst_ = true;
    }
}

} // namespace visa
