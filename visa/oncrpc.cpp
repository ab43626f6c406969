#include "visa/oncrpc.h"

#include <cstring>

namespace oncrpc {

namespace {
size_t padded(size_t n) { return (n + 3) & ~size_t(3); }
}

void XdrWriter::u32(uint32_t v)
{
    buf_.push_back(static_cast<uint8_t>(v >> 24));
    buf_.push_back(static_cast<uint8_t>(v >> 16));
    buf_.push_back(static_cast<uint8_t>(v >> 8));
    buf_.push_back(static_cast<uint8_t>(v));
}

void XdrWriter::opaque(const uint8_t *data, size_t len)
{
    u32(static_cast<uint32_t>(len));
    if (len)
        buf_.insert(buf_.end(), data, data + len);
    buf_.resize(buf_.size() + (padded(len) - len), 0);
}

void XdrWriter::string(const std::string &s)
{
    opaque(reinterpret_cast<const uint8_t *>(s.data()), s.size());
}

bool XdrReader::take(size_t n, const uint8_t **out)
{
    if (!ok_ || n > remaining()) {
        ok_ = false;
        return false;
    }
    *out = p_;
    p_ += n;
    return true;
}

uint32_t XdrReader::u32()
{
    const uint8_t *q;
    if (!take(4, &q))
        return 0;
    return uint32_t(q[0]) << 24 | uint32_t(q[1]) << 16 | uint32_t(q[2]) << 8 | q[3];
}

bool XdrReader::boolean()
{
    uint32_t v = u32();
    if (v > 1)
        ok_ = false;
    return v == 1;
}

Bytes XdrReader::opaque(size_t maxLen)
{
    uint32_t len = u32();
    const uint8_t *q;
    // The padded length is checked before anything is allocated.
    if (!ok_ || len > maxLen || !take(padded(len), &q)) {
        ok_ = false;
        return {};
    }
    return Bytes(q, q + len);
}

std::string XdrReader::string(size_t maxLen)
{
    Bytes b = opaque(maxLen);
    return std::string(b.begin(), b.end());
}

void XdrReader::skipOpaque(size_t maxLen)
{
    uint32_t len = u32();
    const uint8_t *q;
    if (!ok_ || len > maxLen || !take(padded(len), &q))
        ok_ = false;
}

Bytes encodeCall(uint32_t xid, uint32_t prog, uint32_t vers, uint32_t proc, const Bytes &args)
{
    XdrWriter w;
    w.u32(xid);
    w.u32(Call);
    w.u32(RpcVersion);
    w.u32(prog);
    w.u32(vers);
    w.u32(proc);
    w.u32(AuthNone); // credentials
    w.u32(0);
    w.u32(AuthNone); // verifier
    w.u32(0);
    w.raw(args);
    return w.take();
}

bool decodeCall(XdrReader &r, CallHeader *out)
{
    out->xid = r.u32();
    if (r.u32() != Call)
        return false;
    out->rpcVersion = r.u32();
    out->prog = r.u32();
    out->vers = r.u32();
    out->proc = r.u32();
    r.u32(); // credential flavour: any is accepted, none is checked
    r.skipOpaque(MaxAuthBody);
    r.u32(); // verifier
    r.skipOpaque(MaxAuthBody);
    return r.ok();
}

namespace {
void acceptedHeader(XdrWriter &w, uint32_t xid, AcceptStat stat)
{
    w.u32(xid);
    w.u32(Reply);
    w.u32(MsgAccepted);
    w.u32(AuthNone); // verifier
    w.u32(0);
    w.u32(stat);
}
} // namespace

Bytes encodeReply(uint32_t xid, AcceptStat stat, const Bytes &results)
{
    XdrWriter w;
    acceptedHeader(w, xid, stat);
    if (stat == Success)
        w.raw(results);
    return w.take();
}

Bytes encodeProgMismatch(uint32_t xid, uint32_t low, uint32_t high)
{
    XdrWriter w;
    acceptedHeader(w, xid, ProgMismatch);
    w.u32(low);
    w.u32(high);
    return w.take();
}

Bytes encodeRpcMismatch(uint32_t xid)
{
    XdrWriter w;
    w.u32(xid);
    w.u32(Reply);
    w.u32(MsgDenied);
    w.u32(RpcMismatch);
    w.u32(RpcVersion);
    w.u32(RpcVersion);
    return w.take();
}

bool decodeReply(XdrReader &r, ReplyHeader *out)
{
    out->xid = r.u32();
    if (r.u32() != Reply || !r.ok())
        return false;
    out->replyStat = r.u32();
    if (out->replyStat == MsgAccepted) {
        r.u32(); // verifier
        r.skipOpaque(MaxAuthBody);
        out->acceptStat = r.u32();
    } else {
        out->replyStat = MsgDenied;
    }
    return r.ok();
}

bool peekXid(const Bytes &msg, uint32_t *xid)
{
    XdrReader r(msg);
    *xid = r.u32();
    return r.ok();
}

Bytes frameRecord(const Bytes &msg)
{
    // One fragment: our messages stay far below the 2 GiB a fragment can hold.
    XdrWriter w;
    w.u32(LastFragment | static_cast<uint32_t>(msg.size()));
    w.raw(msg);
    return w.take();
}

void RecordAssembler::feed(const uint8_t *data, size_t len)
{
    if (failed_)
        return;
    in_.insert(in_.end(), data, data + len);
    size_t pos = 0;
    while (in_.size() - pos >= 4) {
        const uint8_t *h = in_.data() + pos;
        uint32_t word = uint32_t(h[0]) << 24 | uint32_t(h[1]) << 16 | uint32_t(h[2]) << 8 | h[3];
        size_t fragLen = word & ~LastFragment;
        if (rec_.size() + fragLen > max_) {
            failed_ = true;
            in_.clear();
            rec_.clear();
            return;
        }
        if (in_.size() - pos - 4 < fragLen)
            break;
        rec_.insert(rec_.end(), h + 4, h + 4 + fragLen);
        pos += 4 + fragLen;
        if (word & LastFragment) {
            done_.push_back(std::move(rec_));
            rec_.clear();
        }
    }
    in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(pos));
}

bool RecordAssembler::next(Bytes *out)
{
    if (done_.empty())
        return false;
    *out = std::move(done_.front());
    done_.pop_front();
    return true;
}

} // namespace oncrpc
