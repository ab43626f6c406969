// Socket plumbing for ONC RPC over TCP, every step bounded by a deadline:
// name resolution, connect, sending a record, and waiting for the reply
// that carries the caller's transaction id.
#pragma once

#include "visa/oncrpc.h"

#include <chrono>
#include <cstdint>
#include <string>

#include <sys/socket.h>

namespace oncrpc {

class Deadline {
public:
    static Deadline after(int64_t ms);
    static Deadline never() { return Deadline(); }
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

struct Address {
    sockaddr_storage addr{};
    socklen_t len = 0;
};

// Resolves host (name or numeric) to its first TCP address with the given
// port. Name look-ups that hang are abandoned at the deadline.
bool resolveHost(const std::string &host, uint16_t port, Deadline deadline, Address *out);
// Returns a connected non-blocking socket, or -1.
int connectTcp(const Address &to, Deadline deadline);

// *sent (if given) tells how far a send that failed got.
IoResult sendAll(int fd, const uint8_t *data, size_t len, Deadline deadline, size_t *sent = nullptr);
// Waits for the next whole record on fd; partial records stay in asm.
IoResult receiveRecord(int fd, RecordAssembler &assembler, Bytes *out, Deadline deadline);

// One RPC client on one TCP connection. Replies whose transaction id is not
// the one of the current call (late answers to calls that timed out) are
// dropped.
class RpcClient {
public:
    explicit RpcClient(int fd, uint32_t firstXid);
    ~RpcClient();
    RpcClient(const RpcClient &) = delete;
    RpcClient &operator=(const RpcClient &) = delete;

    // On Ok, *results holds the procedure's encoded results.
    IoResult call(uint32_t prog, uint32_t vers, uint32_t proc, const Bytes &args, Deadline deadline,
                  Bytes *results);
    void setMaxRecord(size_t bytes) { assembler_.setMaxRecord(bytes); }
    bool connected() const { return fd_ >= 0; }
    void close();

private:
    int fd_;
    uint32_t xid_;
    RecordAssembler assembler_;
};

} // namespace oncrpc
