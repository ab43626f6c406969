// Memory of our own that the kernel copies received socket data into.
#pragma once

#include "visa/visa.h"

#include <cstddef>
#include <cstdlib>

namespace visa {

// Starts half a page past a page boundary. On some processors (AMD, where
// the kernel copies with rep movsb) a copy runs several times slower when
// the destination lies just past the source within a page, and received
// data mostly start near a page boundary; a buffer from malloc() of this
// size starts 16 bytes into one, right in that window.
class ReceiveBuffer {
public:
    explicit ReceiveBuffer(size_t size)
        : base_(static_cast<ViByte *>(std::aligned_alloc(Page, (size + Page / 2 + Page - 1) / Page * Page)))
    {
    }
    ~ReceiveBuffer() { std::free(base_); }
    ReceiveBuffer(const ReceiveBuffer &) = delete;
    ReceiveBuffer &operator=(const ReceiveBuffer &) = delete;

    // Null if the memory could not be had.
    ViByte *data() const { return base_ ? base_ + Page / 2 : nullptr; }

private:
    static constexpr size_t Page = 4096;
    ViByte *base_;
};

} // namespace visa
