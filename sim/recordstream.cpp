#include "sim/recordstream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

namespace benchsim {

namespace {
// Small records (every call but a long device_write) come in one recv.
constexpr size_t ReadAhead = 64 * 1024;
} // namespace

RecordReader::RecordReader(int fd, size_t maxRecord) : fd_(fd), max_(maxRecord), in_(fd, ReadAhead) {}

// Calls come one at a time, each after the reply to the last: waiting
// first saves the recv that would find nothing.
bool RecordReader::read(uint8_t *to, size_t n)
{
    return in_.read(to, n, [this] {
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            const int ready = ::poll(&p, 1, -1);
            if (ready > 0)
                return true;
            if (ready < 0 && errno != EINTR)
                return false;
        }
    });
}

RecordReader::Status RecordReader::next(oncrpc::Bytes *record)
{
    record->clear();
    for (;;) {
        uint8_t mark[4];
        if (!read(mark, 4))
            return Status::Closed;
        const uint32_t word = uint32_t(mark[0]) << 24 | uint32_t(mark[1]) << 16 | uint32_t(mark[2]) << 8 | mark[3];
        const size_t length = word & ~oncrpc::LastFragment;
        if (length > max_ - record->size())
            return Status::Oversized;
        const size_t had = record->size();
        record->resize(had + length);
        if (!read(record->data() + had, length))
            return Status::Closed;
        if (word & oncrpc::LastFragment)
            return Status::Record;
    }
}

bool sendRecord(int fd, const oncrpc::Bytes &head, const QByteArray &tail, int stallMs)
{
    static const uint8_t zeros[4] = {};
    const size_t pad = (4 - size_t(tail.size()) % 4) % 4;
    const uint32_t length = uint32_t(head.size() + size_t(tail.size()) + pad);
    const uint8_t mark[4] = {uint8_t(0x80 | length >> 24), uint8_t(length >> 16), uint8_t(length >> 8),
                             uint8_t(length)};
    iovec parts[4] = {{const_cast<uint8_t *>(mark), 4},
                      {const_cast<uint8_t *>(head.data()), head.size()},
                      {const_cast<char *>(tail.constData()), size_t(tail.size())},
                      {const_cast<uint8_t *>(zeros), pad}};
    iovec *iov = parts;
    size_t count = 4;
    while (count > 0) {
        if (iov->iov_len == 0) {
            ++iov;
            --count;
            continue;
        }
        msghdr msg{};
        msg.msg_iov = iov;
        msg.msg_iovlen = count;
        const ssize_t n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return false;
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, stallMs) <= 0 || (p.revents & (POLLERR | POLLHUP)))
                return false;
            continue;
        }
        for (size_t sent = size_t(n); sent > 0;) {
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

} // namespace benchsim
