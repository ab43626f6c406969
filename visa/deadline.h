// A point in time that an I/O operation must not run past. A time-out of
// VI_TMO_INFINITE never expires.
#pragma once

#include "visa/visa.h"

#include <chrono>
#include <limits>

namespace visa {

class Deadline {
public:
    explicit Deadline(ViUInt32 timeoutMs)
        : infinite_(timeoutMs == VI_TMO_INFINITE)
        , end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(infinite_ ? 0 : timeoutMs))
    {
    }

    bool infinite() const { return infinite_; }

    // Milliseconds left, rounded up so that a poll() never wakes early and
    // spins; -1 (wait forever) when infinite, 0 once expired.
    int pollMs() const
    {
        if (infinite_)
            return -1;
        const auto left = end_ - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            return 0;
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
        // A time-out of weeks still fits poll()'s int.
        const auto ms = (us + 999) / 1000;
        return ms > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(ms);
    }

    // What is left, as a VISA time-out for a nested call.
    ViUInt32 remainingMs() const
    {
        const int ms = pollMs();
        return ms < 0 ? ViUInt32(VI_TMO_INFINITE) : ViUInt32(ms);
    }

    bool expired() const { return pollMs() == 0; }

private:
    bool infinite_;
    std::chrono::steady_clock::time_point end_;
};

} // namespace visa
