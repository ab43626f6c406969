// The deadline and the outcomes shared by every step of an ONC RPC exchange
// over TCP (see rpcsocket.h and recordreader.h).
#pragma once

#include <chrono>
#include <cstdint>

namespace oncrpc {

class Deadline {
public:
    static Deadline after(int64_t ms);
    static Deadline never() { return Deadline(); }
    // The same point in time ms later (never stays never).
    Deadline plus(int64_t ms) const;
    // Milliseconds left, rounded up, for poll(); -1 when there is no deadline.
    int pollMs() const;
    bool expired() const;

private:
    bool infinite_ = true;
    std::chrono::steady_clock::time_point at_;
};

enum class IoResult {
    Ok,
    Timeout,
    Closed,   // the peer closed or reset the connection
    Protocol, // malformed or oversized record: the stream cannot be trusted
    Rejected, // a well-formed refusal (no such procedure, ...): the stream is fine
};

} // namespace oncrpc
