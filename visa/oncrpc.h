// ONC RPC message codec: XDR encoding, call and reply headers, and the
// record marking that frames RPC messages on a TCP stream. Shared by the
// VXI-11 client (visa/) and the simulator's VXI-11 server (sim/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace oncrpc {

using Bytes = std::vector<uint8_t>;

// XDR: big-endian 32-bit units; opaque data and strings carry a length and
// are padded with zero bytes to a multiple of 4.
class XdrWriter {
public:
    void u32(uint32_t v);
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void boolean(bool v) { u32(v ? 1 : 0); }
    void opaque(const uint8_t *data, size_t len); // variable length: count then bytes
    void opaque(const Bytes &data) { opaque(data.data(), data.size()); }
    void string(const std::string &s);
    void raw(const Bytes &data) { buf_.insert(buf_.end(), data.begin(), data.end()); }
    const Bytes &bytes() const { return buf_; }
    Bytes take() { return std::move(buf_); }

private:
    Bytes buf_;
};

// Reads from a buffer it does not own. A read past the end or a length
// larger than allowed sets a sticky failure (and yields zeros/empties);
// callers check ok() once after reading a whole structure.
class XdrReader {
public:
    XdrReader(const uint8_t *data, size_t len) : p_(data), end_(data + len) {}
    explicit XdrReader(const Bytes &b) : XdrReader(b.data(), b.size()) {}

    uint32_t u32();
    int32_t i32() { return static_cast<int32_t>(u32()); }
    bool boolean();
    // Variable-length opaque of at most maxLen bytes.
    Bytes opaque(size_t maxLen);
    std::string string(size_t maxLen);
    void skipOpaque(size_t maxLen);

    bool ok() const { return ok_; }
    size_t remaining() const { return static_cast<size_t>(end_ - p_); }
    const uint8_t *pos() const { return p_; }

private:
    bool take(size_t n, const uint8_t **out);
    const uint8_t *p_;
    const uint8_t *end_;
    bool ok_ = true;
};

enum MsgType : uint32_t { Call = 0, Reply = 1 };
enum ReplyStat : uint32_t { MsgAccepted = 0, MsgDenied = 1 };
enum AcceptStat : uint32_t {
    Success = 0,
    ProgUnavail = 1,
    ProgMismatch = 2,
    ProcUnavail = 3,
    GarbageArgs = 4,
    SystemErr = 5,
};
enum RejectStat : uint32_t { RpcMismatch = 0, AuthError = 1 };
constexpr uint32_t RpcVersion = 2;
constexpr uint32_t AuthNone = 0;
constexpr size_t MaxAuthBody = 400; // an auth body is at most 400 bytes

struct CallHeader {
    uint32_t xid = 0;
    uint32_t rpcVersion = 0;
    uint32_t prog = 0;
    uint32_t vers = 0;
    uint32_t proc = 0;
};

// A call with AUTH_NONE credentials, followed by the encoded arguments.
Bytes encodeCall(uint32_t xid, uint32_t prog, uint32_t vers, uint32_t proc, const Bytes &args);
// Reads the header and skips the credentials; the reader is left at the arguments.
bool decodeCall(XdrReader &r, CallHeader *out);

// Accepted reply; for Success the results follow, for ProgMismatch the
// supported version range (low, high).
Bytes encodeReply(uint32_t xid, AcceptStat stat, const Bytes &results = {});
Bytes encodeProgMismatch(uint32_t xid, uint32_t low, uint32_t high);
Bytes encodeRpcMismatch(uint32_t xid);

struct ReplyHeader {
    uint32_t xid = 0;
    uint32_t replyStat = MsgDenied;
    uint32_t acceptStat = SystemErr;
    bool success() const { return replyStat == MsgAccepted && acceptStat == Success; }
};
// Reads the reply header; on an accepted Success reply the reader is left
// at the results. Returns false on a message that is not a reply.
bool decodeReply(XdrReader &r, ReplyHeader *out);
// The xid of any RPC message (first word), without decoding the rest.
bool peekXid(const Bytes &msg, uint32_t *xid);

// Record marking on a stream: each fragment has a 4-byte header whose top
// bit marks the last fragment of a record and whose low 31 bits give its
// length.
constexpr uint32_t LastFragment = 0x80000000u;
Bytes frameRecord(const Bytes &msg);

// Collects stream bytes into whole records. Bytes of a record that is not
// complete yet stay buffered, so a reader that gave up waiting stays in step
// with the stream. A record larger than maxRecord is a protocol fault: it
// sets failed() and is never allocated.
class RecordAssembler {
public:
    explicit RecordAssembler(size_t maxRecord) : max_(maxRecord) {}
    void feed(const uint8_t *data, size_t len);
    // Moves the next complete record into *out; false if none is complete.
    bool next(Bytes *out);
    bool failed() const { return failed_; }
    void setMaxRecord(size_t maxRecord) { max_ = maxRecord; }

private:
    size_t max_;
    Bytes in_;    // raw stream bytes not yet parsed
    Bytes rec_;   // fragments of the current record so far
    std::deque<Bytes> done_;
    bool failed_ = false;
};

} // namespace oncrpc
