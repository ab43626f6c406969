#include "visa/recordreader.h"

#include "visa/oncrpc.h"

#include <algorithm>

namespace oncrpc {

namespace {

IoResult ResultOf(visa::Received r)
{
    switch (r) {
    case visa::Received::Ok:
        return IoResult::Ok;
    case visa::Received::Timeout:
        return IoResult::Timeout;
    case visa::Received::Closed:
        break;
    }
    return IoResult::Closed;
}

} // namespace

void RecordReader::reset()
{
    state_ = State::Idle;
    fragLeft_ = 0;
    lastFragment_ = false;
    hdrHave_ = 0;
    in_.reset();
}

IoResult RecordReader::receive(int fd, iovec *iov, int iovCount, size_t *got, const Deadline &deadline)
{
    return ResultOf(in_.receive(fd, iov, iovCount, got, deadline));
}

IoResult RecordReader::fillAhead(int fd, const Deadline &deadline)
{
    return ResultOf(in_.fill(fd, deadline));
}

void RecordReader::headerBytes(size_t n)
{
    hdrHave_ += n;
    if (hdrHave_ < sizeof hdr_)
        return;
    hdrHave_ = 0;
    const uint32_t word = uint32_t(hdr_[0]) << 24 | uint32_t(hdr_[1]) << 16 | uint32_t(hdr_[2]) << 8 | hdr_[3];
    fragLeft_ = word & ~LastFragment;
    lastFragment_ = (word & LastFragment) != 0;
    state_ = fragLeft_ == 0 && lastFragment_ ? State::Ended : State::InRecord;
}

IoResult RecordReader::nextFragment(int fd, bool bulkFollows, const Deadline &deadline)
{
    while (fragLeft_ == 0 && state_ != State::Ended) {
        if (in_.buffered() > 0) {
            headerBytes(in_.take(hdr_ + hdrHave_, sizeof hdr_ - hdrHave_));
            continue;
        }
        IoResult io;
        if (bulkFollows) {
            // Only the header, so that the fragment's data can go straight
            // to the caller instead of through the read-ahead.
            iovec v{hdr_ + hdrHave_, sizeof hdr_ - hdrHave_};
            size_t n = 0;
            io = receive(fd, &v, 1, &n, deadline);
            if (io == IoResult::Ok)
                headerBytes(n);
        } else {
            io = fillAhead(fd, deadline);
        }
        if (io != IoResult::Ok)
            return io;
    }
    return IoResult::Ok;
}

IoResult RecordReader::take(int fd, uint8_t *dst, size_t n, size_t *took, const Deadline &deadline)
{
    *took = 0;
    const size_t want = std::min<size_t>(n, fragLeft_);
    size_t got = 0;
    size_t headerGot = 0;
    if (in_.buffered() > 0) {
        got = in_.take(dst, want);
    } else if (want >= DirectMin && dst) {
        // Straight into the caller's memory. When this finishes a fragment
        // of a record that goes on, the next fragment's header comes along
        // in the same receive.
        iovec v[2] = {{dst, want}, {hdr_, sizeof hdr_}};
        const bool withHeader = want == fragLeft_ && !lastFragment_;
        size_t r = 0;
        const IoResult io = receive(fd, v, withHeader ? 2 : 1, &r, deadline);
        if (io != IoResult::Ok)
            return io;
        got = std::min(r, want);
        headerGot = r - got;
    } else if (want >= DirectMin) {
        uint8_t scratch[16 * 1024];
        iovec v{scratch, std::min(want, sizeof scratch)};
        const IoResult io = receive(fd, &v, 1, &got, deadline);
        if (io != IoResult::Ok)
            return io;
    } else {
        return fillAhead(fd, deadline);
    }
    fragLeft_ -= uint32_t(got);
    if (fragLeft_ == 0 && lastFragment_)
        state_ = State::Ended;
    if (headerGot > 0)
        headerBytes(headerGot);
    *took = got;
    return IoResult::Ok;
}

IoResult RecordReader::read(int fd, uint8_t *dst, size_t n, const Deadline &deadline)
{
    size_t done = 0;
    while (done < n) {
        if (fragLeft_ == 0) {
            if (state_ == State::Ended)
                return IoResult::Protocol; // the record is shorter than its contents say
            const bool bulk = dst && n - done >= DirectMin && in_.buffered() == 0;
            const IoResult io = nextFragment(fd, bulk, deadline);
            if (io != IoResult::Ok)
                return io;
            continue;
        }
        size_t took = 0;
        const IoResult io = take(fd, dst ? dst + done : nullptr, n - done, &took, deadline);
        if (io != IoResult::Ok)
            return io;
        done += took;
    }
    return IoResult::Ok;
}

IoResult RecordReader::u32(int fd, uint32_t *v, const Deadline &deadline)
{
    uint8_t b[4];
    const IoResult io = read(fd, b, sizeof b, deadline);
    *v = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    return io;
}

IoResult RecordReader::readRest(int fd, std::vector<uint8_t> *out, size_t max, const Deadline &deadline)
{
    while (state_ != State::Ended) {
        if (fragLeft_ == 0) {
            const IoResult io = nextFragment(fd, false, deadline);
            if (io != IoResult::Ok)
                return io;
            continue;
        }
        // Refused on the header's word, before anything is received or allocated.
        if (fragLeft_ > max - out->size())
            return IoResult::Protocol;
        const size_t at = out->size();
        out->resize(at + fragLeft_);
        const IoResult io = read(fd, out->data() + at, fragLeft_, deadline);
        if (io != IoResult::Ok)
            return io;
    }
    return IoResult::Ok;
}

IoResult RecordReader::next(int fd, const Deadline &deadline)
{
    while (state_ == State::InRecord) {
        if (fragLeft_ == 0) {
            const IoResult io = nextFragment(fd, false, deadline);
            if (io != IoResult::Ok)
                return io;
            continue;
        }
        size_t took = 0;
        const IoResult io = take(fd, nullptr, fragLeft_, &took, deadline);
        if (io != IoResult::Ok)
            return io;
    }
    state_ = State::Idle;
    return IoResult::Ok;
}

} // namespace oncrpc
