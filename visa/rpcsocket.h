// Socket plumbing for ONC RPC over TCP, every step bounded by a deadline:
// name resolution, connect, sending a record, and waiting for the reply
// that carries the caller's transaction id.
#pragma once

#include "visa/oncrpc.h"
#include "visa/recordreader.h"
#include "visa/rpcdeadline.h"

#include <cstdint>
#include <string>

#include <sys/socket.h>

namespace oncrpc {

struct Address {
    sockaddr_storage addr{};
    socklen_t len = 0;
};

// Resolves host (name or numeric) to its first TCP address with the given
// port. Name look-ups that hang are abandoned at the deadline.
bool resolveHost(const std::string &host, uint16_t port, Deadline deadline, Address *out);
// Returns a connected non-blocking socket, or -1 with the system's reason
// in *error when given (ECONNREFUSED: nothing listens there; ETIMEDOUT).
int connectTcp(const Address &to, Deadline deadline, int *error = nullptr);

// *sent (if given) tells how far a send that failed got.
IoResult sendAll(int fd, const uint8_t *data, size_t len, Deadline deadline, size_t *sent = nullptr);
// Waits for the next whole record on fd; partial records stay in asm. Bytes
// that complete no record count against the deadline like silence does.
IoResult receiveRecord(int fd, RecordAssembler &assembler, Bytes *out, Deadline deadline);

// One RPC client on one TCP connection. Replies whose transaction id is not
// the one of the current call (late answers to calls that timed out) are
// dropped as they stream past, never held.
class RpcClient {
public:
    explicit RpcClient(int fd, uint32_t firstXid);
    ~RpcClient();
    RpcClient(const RpcClient &) = delete;
    RpcClient &operator=(const RpcClient &) = delete;

    // A call with small results: on Ok, *results holds them (at most the
    // limit set by setMaxRecord, 64 KiB unless set). opaque as for send().
    IoResult call(uint32_t prog, uint32_t vers, uint32_t proc, const Bytes &args, Deadline deadline,
                  Bytes *results, const uint8_t *opaque = nullptr, size_t opaqueLen = 0);

    // The same in steps, for results read a piece at a time. send() sends
    // args followed, when opaque is given, by a variable-length opaque of
    // opaqueLen bytes taken from where they lie. awaitReply() stops at the
    // results of the reply to xid; readResults() takes them in order and
    // endReply() drops what is left. Timeout leaves the rest of the reply to
    // be dropped by the next call.
    IoResult send(uint32_t prog, uint32_t vers, uint32_t proc, const Bytes &args, Deadline deadline, uint32_t *xid,
                  const uint8_t *opaque = nullptr, size_t opaqueLen = 0);
    IoResult awaitReply(uint32_t xid, Deadline deadline);
    IoResult readResults(uint8_t *dst, size_t n, Deadline deadline);
    IoResult readResult(uint32_t *v, Deadline deadline);
    IoResult endReply(Deadline deadline);

    void setMaxRecord(size_t bytes) { maxResults_ = bytes; }
    bool connected() const { return fd_ >= 0; }
    void close();

private:
    // Closes the connection when the stream is gone or out of step.
    IoResult check(IoResult io);

    int fd_;
    uint32_t xid_;
    size_t maxResults_ = 64 * 1024;
    Bytes head_; // record mark, call header and arguments of the call being sent
    RecordReader reader_;
};

} // namespace oncrpc
