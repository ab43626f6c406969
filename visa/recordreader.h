// Reads ONC RPC records from a TCP stream a piece at a time, for the client
// side: the bulk of a reply is received straight into the caller's memory,
// and a record is never held whole, so whatever its fragment headers claim a
// peer cannot make us buffer more than the small read-ahead below. Every
// receive is bounded by the caller's deadline, also while bytes keep coming
// that never complete what is awaited (empty fragments, other replies).
#pragma once

#include "visa/rpcdeadline.h"
#include "visa/streamreceiver.h"

#include <cstddef>
#include <cstdint>
#include <vector>


namespace oncrpc {

class RecordReader {
public:
    // Reads the next n bytes of the current record into dst, or drops them
    // when dst is null; the first read after next() starts a new record.
    // Protocol when the record ends before n bytes.
    IoResult read(int fd, uint8_t *dst, size_t n, const Deadline &deadline);
    IoResult u32(int fd, uint32_t *v, const Deadline &deadline);
    // Appends the rest of the current record to *out; Protocol if that would
    // take it past max bytes.
    IoResult readRest(int fd, std::vector<uint8_t> *out, size_t max, const Deadline &deadline);
    // Drops what is left of the current record and gets ready for the next.
    // On Timeout the reader stays where it is and a later call goes on.
    IoResult next(int fd, const Deadline &deadline);

    // Takes fd over for receiving (see timedreceive.h).
    void attach(int fd) { in_.attach(fd); }
    // A call has gone out: the next wait is its reply's first, and the
    // reply cannot be there yet, so the receive waits at once.
    void expectReply() { in_.expectReplyNow(); }
    // Forget the stream (after the connection was closed).
    void reset();

private:
    enum class State { Idle, InRecord, Ended };
    // Makes fragLeft_ > 0 or ends the record; reads fragment headers,
    // empty fragments included.
    IoResult nextFragment(int fd, bool bulkFollows, const Deadline &deadline);
    // Takes up to n bytes of the current fragment; *took gets how many.
    IoResult take(int fd, uint8_t *dst, size_t n, size_t *took, const Deadline &deadline);
    IoResult receive(int fd, iovec *iov, int iovCount, size_t *got, const Deadline &deadline);
    IoResult fillAhead(int fd, const Deadline &deadline);
    // Accounts for header bytes that have arrived in hdr_.
    void headerBytes(size_t n);

    // Below this a piece is not worth its own receive.
    static constexpr size_t DirectMin = 512;

    State state_ = State::Idle;
    uint32_t fragLeft_ = 0;
    bool lastFragment_ = false;
    uint8_t hdr_[4] = {};
    size_t hdrHave_ = 0;
    // Small replies and headers come through its read-ahead; bulk data
    // bypasses it.
    visa::StreamReceiver in_;
};

} // namespace oncrpc
