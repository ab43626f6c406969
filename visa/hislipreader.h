// Reads HiSLIP messages from one channel of a client session a piece at a
// time: headers and short messages through a small read-ahead, the bulk of
// a long payload straight into the caller's memory (with the next header
// in the same receive), so a reply is copied once and never held whole.
// Whatever a header claims, the reader holds no more than its read-ahead.
// Every receive is bounded by the caller's deadline, also while bytes keep
// coming that never complete what is awaited.
#pragma once

#include "visa/deadline.h"
#include "visa/hislipproto.h"
#include "visa/streamreceiver.h"
#include "visa/visa.h"

#include <cstddef>
#include <cstdint>


namespace visa {

class HislipReader {
public:
    // maxPayload: the longest payload accepted; a longer one is a protocol
    // fault (VI_ERROR_IO) and the stream is not read further.
    explicit HislipReader(uint64_t maxPayload) : header_(maxPayload) {}

    // Takes fd over for receiving (see timedreceive.h).
    void attach(int fd) { in_.attach(fd); }
    // A request has gone out: the next wait is its answer's first.
    void expectReply() { in_.expectReply(); }

    // The next message's header. What is left of the current payload is
    // dropped first. VI_SUCCESS, VI_ERROR_TMO (the reader stays where it
    // is, a later call goes on), VI_ERROR_CONN_LOST, or VI_ERROR_IO for a
    // header that is not HiSLIP or announces too long a payload.
    ViStatus nextHeader(int fd, hislip::Header *out, const Deadline &deadline);
    // Up to n bytes of the current payload into dst (dst null: dropped);
    // on VI_SUCCESS *got is 1..min(n, payloadLeft()).
    ViStatus payload(int fd, uint8_t *dst, size_t n, size_t *got, const Deadline &deadline);
    // All of the current payload into dst (n == payloadLeft()), or dropped.
    ViStatus payloadAll(int fd, uint8_t *dst, size_t n, const Deadline &deadline);
    uint64_t payloadLeft() const { return payloadLeft_; }
    // Something has arrived that no call has taken yet (or the peer has
    // closed): looked at without waiting.
    bool pending(int fd) const;

private:
    // Below this a piece is not worth its own receive.
    static constexpr size_t DirectMin = 512;

    hislip::HeaderReader header_;
    uint64_t payloadLeft_ = 0;
    // Small messages and headers come through its read-ahead; bulk data
    // bypasses it.
    StreamReceiver in_;
};

} // namespace visa
