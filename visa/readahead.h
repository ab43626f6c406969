// The bytes of a response message that a read received beyond its caller's
// count: a VXI-11 read asks the device for more than a small viRead wants,
// so that the reads that follow (a block's header, its count digits, its
// data) are served from here instead of costing a round trip each. Holds at
// most one reply's worth, never more than its capacity.
#pragma once

#include "visa/receivebuffer.h"
#include "visa/transport.h"

#include <cstddef>
#include <memory>

namespace visa {

class ReadAhead {
public:
    explicit ReadAhead(size_t capacity) : capacity_(capacity) {}

    size_t capacity() const { return capacity_; }
    bool empty() const { return pos_ == end_; }
    size_t size() const { return end_ - pos_; }

    // Has its memory (allocated on first use); false when it cannot be had.
    bool reserve();
    // Room for capacity() bytes of one reply, replacing whatever was held;
    // after reserve() returned true.
    ViByte *room();
    // The first n bytes of room() now hold the message's next bytes; ended:
    // the message ends with the last of them (END).
    void hold(size_t n, bool ended);
    // Drops what is held: a new message, a device clear or a broken reply.
    void discard() { pos_ = end_ = 0; }

    // Moves up to cnt held bytes into to; *moved gets how many. VI_SUCCESS
    // or what the target's commit() returned.
    ViStatus deliver(ReadTarget &to, size_t cnt, size_t *moved);
    // Everything held has been delivered and END came with the last byte.
    bool messageEnded() const { return empty() && ended_; }

private:
    size_t capacity_;
    // Allocated on first use and kept: untouched pages cost nothing.
    std::unique_ptr<ReceiveBuffer> buffer_;
    size_t pos_ = 0;
    size_t end_ = 0;
    bool ended_ = false;
};

} // namespace visa
