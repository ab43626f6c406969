// TCPIP::host[::device]::INSTR sessions: VXI-11 over ONC RPC. The core
// channel's port comes from the host's portmapper (TCP port 111) unless the
// resource names it ("host,port"). One link per session.
#include "visa/readahead.h"
#include "visa/rpcsocket.h"
#include "visa/transport.h"
#include "visa/vxi11proto.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include <unistd.h>

namespace visa {

namespace {

using oncrpc::Bytes;
using oncrpc::Deadline;
using oncrpc::IoResult;
using oncrpc::XdrReader;
using oncrpc::XdrWriter;

// The device answers at io_timeout at the latest; a call ends by its
// time-out plus this margin for the reply, then counts as timed out.
constexpr int64_t ReplyMarginMs = 1000;
// Our wait for the reply ends this much before that bound, so that the call
// has returned by it also when waking the caller takes a while on a busy
// machine.
constexpr int64_t WakeUpAllowanceMs = 50;
// A small read asks the device for this much (or its maxRecvSize if less)
// and keeps what comes beyond the caller's count for the next reads: a
// whole block of a typical trace in one round trip, at most this much held.
constexpr uint32_t MaxReadAhead = 1u << 20;
// destroy_link at close: a dead instrument must not hold up the caller long.
constexpr ViUInt32 CloseTimeoutMs = 1000;

ViStatus fromIo(IoResult io)
{
    switch (io) {
    case IoResult::Ok: return VI_SUCCESS;
    case IoResult::Timeout: return VI_ERROR_TMO;
    case IoResult::Closed: return VI_ERROR_CONN_LOST;
    case IoResult::Protocol:
    case IoResult::Rejected: break;
    }
    return VI_ERROR_IO;
}

// io_timeout is the device's own time-out; every other device error
// (invalid link, locked, abort, ...) leaves nothing for a caller to retry
// and is reported as an I/O error.
ViStatus fromDeviceError(uint32_t error)
{
    if (error == vxi11::ErrNone)
        return VI_SUCCESS;
    if (error == vxi11::ErrIoTimeout)
        return VI_ERROR_TMO;
    return VI_ERROR_IO;
}

Deadline overallDeadline(ViUInt32 timeoutMs)
{
    return timeoutMs == VI_TMO_INFINITE ? Deadline::never() : Deadline::after(timeoutMs);
}

// How long a call of an operation bounded by overall waits for its reply:
// counted from the operation's start, not from the call, so that however
// many calls it takes it ends by its time-out plus the margin.
Deadline replyDeadline(const Deadline &overall)
{
    return overall.plus(ReplyMarginMs - WakeUpAllowanceMs);
}

// The device's io_timeout for the next call of an operation bounded by overall.
ViUInt32 remainingIoTimeout(const Deadline &overall, ViUInt32 timeoutMs)
{
    return timeoutMs == VI_TMO_INFINITE ? ViUInt32(VI_TMO_INFINITE) : ViUInt32(std::max(0, overall.pollMs()));
}

uint32_t firstXid()
{
    auto t = std::chrono::steady_clock::now().time_since_epoch().count();
    return static_cast<uint32_t>(t) ^ (static_cast<uint32_t>(::getpid()) << 16);
}

// A device may announce any maxRecvSize; one write piece must still fit a
// record fragment, so larger announcements are taken as this.
constexpr uint32_t MaxWritePiece = 1u << 30;

class Vxi11Transport : public Transport {
public:
    Vxi11Transport(std::unique_ptr<oncrpc::RpcClient> rpc, uint32_t lid, uint32_t maxRecvSize)
        : rpc_(std::move(rpc))
        , lid_(lid)
        , maxRecvSize_(std::min(maxRecvSize, MaxWritePiece))
        , ahead_(std::clamp(maxRecvSize, vxi11::MinMaxRecvSize, MaxReadAhead))
    {
    }

    using Transport::read;

    ViStatus write(const ViByte *buf, ViUInt32 cnt, ViUInt32 *ret, ViUInt32 timeoutMs) override
    {
        *ret = 0;
        // A new message: what is left of the last reply is not its answer
        // (the device drops its unread output too).
        ahead_.discard();
        // One time-out for the whole message, however many pieces it takes.
        const Deadline overall = overallDeadline(timeoutMs);
        ViUInt32 done = 0;
        do {
            if (done > 0 && overall.expired())
                return VI_ERROR_TMO;
            const ViUInt32 ioTimeout = remainingIoTimeout(overall, timeoutMs);
            const ViUInt32 piece = std::min(cnt - done, maxRecvSize_);
            const bool last = done + piece == cnt;
            XdrWriter w;
            w.u32(lid_);
            w.u32(ioTimeout);
            w.u32(0); // lock_timeout
            w.u32(last ? vxi11::FlagEnd : 0);
            // The data goes out from the caller's buffer, not through a copy.
            static const ViByte none = 0;
            Bytes res;
            ViStatus st = call(vxi11::DeviceWrite, w.bytes(), replyDeadline(overall), &res,
                               piece ? buf + done : &none, piece);
            if (st != VI_SUCCESS)
                return st;
            XdrReader r(res);
            const uint32_t error = r.u32();
            const uint32_t size = r.u32();
            if (!r.ok() || size > piece)
                return VI_ERROR_IO;
            done += size;
            *ret = done;
            if (error != vxi11::ErrNone)
                return fromDeviceError(error);
            // A device may take fewer bytes than offered; the rest goes again,
            // but a device that takes nothing at all would loop for ever.
            if (size == 0 && piece > 0)
                return VI_ERROR_IO;
        } while (done < cnt);
        return VI_SUCCESS;
    }

    ViStatus read(ReadTarget &to, ViUInt32 cnt, ViUInt32 *ret, ViUInt32 timeoutMs) override
    {
        *ret = 0;
        if (cnt == 0)
            return VI_SUCCESS_MAX_CNT;
        const Deadline overall = overallDeadline(timeoutMs);
        ViUInt32 got = 0;
        if (!ahead_.empty()) {
            size_t moved = 0;
            const ViStatus st = ahead_.deliver(to, cnt, &moved);
            got = ViUInt32(moved);
            *ret = got;
            if (st != VI_SUCCESS)
                return st;
            if (!ahead_.empty())
                return VI_SUCCESS_MAX_CNT;
            // END with the last requested byte is still the end of the
            // message: VI_SUCCESS, not VI_SUCCESS_MAX_CNT.
            if (ahead_.messageEnded())
                return VI_SUCCESS;
            if (got == cnt)
                return VI_SUCCESS_MAX_CNT;
            // The device holds the rest of the message: ask for it below.
        }
        // A device may send less than asked without END (its own buffer size):
        // ask again for the rest until END, the count or the time-out.
        for (;;) {
            ViStatus st = VI_SUCCESS;
            const ReplyEnd end = readOnce(to, cnt - got, overall, timeoutMs, &got, &st);
            *ret = got;
            if (end == ReplyEnd::Done)
                return st;
            // Also when each reply brings a little: a device that trickles
            // its answer must not hold the caller past the time-out.
            if (overall.expired())
                return VI_ERROR_TMO;
        }
    }

    ViStatus gotoLocal(ViUInt32 timeoutMs) override
    {
        XdrWriter w;
        w.u32(lid_);
        w.u32(0); // flags
        w.u32(0); // lock_timeout
        w.u32(timeoutMs);
        return errorOnlyCall(vxi11::DeviceLocal, w.bytes(), replyDeadline(overallDeadline(timeoutMs)));
    }

    // device_clear: the device drops its input and output, and what is held
    // of its last reply goes too.
    ViStatus clear(ViUInt32 timeoutMs) override
    {
        ahead_.discard();
        XdrWriter w;
        w.u32(lid_);
        w.u32(0); // flags
        w.u32(0); // lock_timeout
        w.u32(timeoutMs);
        return errorOnlyCall(vxi11::DeviceClear, w.bytes(), replyDeadline(overallDeadline(timeoutMs)));
    }

    ViStatus close() override
    {
        ahead_.discard();
        ViStatus st = VI_ERROR_CONN_LOST;
        if (rpc_->connected()) {
            XdrWriter w;
            w.u32(lid_);
            st = errorOnlyCall(vxi11::DestroyLink, w.bytes(), Deadline::after(CloseTimeoutMs));
        }
        rpc_->close();
        return st;
    }

private:
    enum class ReplyEnd { Done, More };

    // One device_read for the want bytes still wanted, delivered straight
    // into the target. A small want asks for the read-ahead's size instead,
    // and what comes beyond want is held for the next reads. *got grows by
    // the bytes committed. Done with *status set, or More: the message goes
    // on at the device and the count is not reached.
    ReplyEnd readOnce(ReadTarget &to, ViUInt32 want, const Deadline &overall, ViUInt32 timeoutMs, ViUInt32 *got,
                      ViStatus *status)
    {
        const auto done = [status](ViStatus st) {
            *status = st;
            return ReplyEnd::Done;
        };
        const bool readAhead = want < ahead_.capacity() && ahead_.reserve();
        const ViUInt32 request = readAhead ? ViUInt32(ahead_.capacity()) : want;
        const ViUInt32 ioTimeout = remainingIoTimeout(overall, timeoutMs);
        XdrWriter w;
        w.u32(lid_);
        w.u32(request); // requestSize
        w.u32(ioTimeout);
        w.u32(0); // lock_timeout
        w.u32(0); // flags: no termination character
        w.u32(0); // termChar
        const Deadline replyBy = replyDeadline(overall);
        uint32_t xid = 0;
        IoResult io = rpc_->send(vxi11::CoreProgram, vxi11::CoreVersion, vxi11::DeviceRead, w.bytes(), replyBy, &xid);
        if (io == IoResult::Ok)
            io = rpc_->awaitReply(xid, replyBy);
        uint32_t error = 0, reason = 0, size = 0;
        if (io == IoResult::Ok)
            io = rpc_->readResult(&error, replyBy);
        if (io == IoResult::Ok)
            io = rpc_->readResult(&reason, replyBy);
        if (io == IoResult::Ok)
            io = rpc_->readResult(&size, replyBy);
        if (io != IoResult::Ok)
            return done(fromIo(io));
        if (size > request) {
            rpc_->endReply(replyBy); // more than asked: refused, the stream kept in step
            return done(VI_ERROR_IO);
        }
        // The reply's data is received straight into the target, so its
        // size costs no memory; only what lies beyond want is held.
        const uint32_t direct = std::min(size, want);
        for (uint32_t taken = 0; taken < direct;) {
            size_t len = 0;
            ViByte *dst = to.room(direct - taken, &len);
            io = rpc_->readResults(dst, len, replyBy);
            if (io != IoResult::Ok)
                return done(fromIo(io));
            taken += uint32_t(len);
            *got += ViUInt32(len);
            const ViStatus st = to.commit(len);
            if (st != VI_SUCCESS)
                return done(st); // the rest of the reply is dropped by the next call
        }
        const uint32_t beyond = size - direct;
        if (beyond > 0) {
            io = rpc_->readResults(ahead_.room(), beyond, replyBy);
            if (io != IoResult::Ok)
                return done(fromIo(io));
        }
        io = rpc_->endReply(replyBy);
        if (io != IoResult::Ok)
            return done(fromIo(io));
        if (error != vxi11::ErrNone)
            return done(fromDeviceError(error));
        if (beyond > 0) {
            ahead_.hold(beyond, (reason & vxi11::ReasonEnd) != 0);
            return done(VI_SUCCESS_MAX_CNT);
        }
        // END with the last requested byte is still the end of the
        // message: VI_SUCCESS, not VI_SUCCESS_MAX_CNT.
        if (reason & vxi11::ReasonEnd)
            return done(VI_SUCCESS);
        if (reason & vxi11::ReasonChr)
            return done(VI_SUCCESS_TERM_CHAR);
        if (direct == want)
            return done(VI_SUCCESS_MAX_CNT);
        return ReplyEnd::More;
    }

    ViStatus call(uint32_t proc, const Bytes &args, Deadline deadline, Bytes *results,
                  const uint8_t *opaque = nullptr, size_t opaqueLen = 0)
    {
        return fromIo(rpc_->call(vxi11::CoreProgram, vxi11::CoreVersion, proc, args, deadline, results, opaque,
                                 opaqueLen));
    }

    ViStatus errorOnlyCall(uint32_t proc, const Bytes &args, Deadline deadline)
    {
        Bytes res;
        ViStatus st = call(proc, args, deadline, &res);
        if (st != VI_SUCCESS)
            return st;
        XdrReader r(res);
        const uint32_t error = r.u32();
        return r.ok() ? fromDeviceError(error) : VI_ERROR_IO;
    }

    std::unique_ptr<oncrpc::RpcClient> rpc_;
    uint32_t lid_;
    uint32_t maxRecvSize_;
    ReadAhead ahead_;
};

// What an unanswered exchange during the open means: the host took the
// connection, so the instrument is there but silent (VI_ERROR_TMO); any other
// failure says it cannot be reached as named.
ViStatus openStatus(IoResult io)
{
    return io == IoResult::Timeout ? VI_ERROR_TMO : VI_ERROR_RSRC_NFOUND;
}

// Asks the host's portmapper (version 2, over TCP) for the core channel's
// port; 0 with *status set when there is none. A host that refuses port
// 111 is there but runs no portmapper: VI_ERROR_MACHINE_NAVAIL, not "no
// such resource", so the caller can say so.
uint16_t corePortFromPortmapper(const std::string &host, Deadline deadline, ViStatus *status)
{
    *status = VI_ERROR_RSRC_NFOUND;
    oncrpc::Address addr;
    if (!oncrpc::resolveHost(host, portmap::Port, deadline, &addr))
        return 0;
    int refused = 0;
    int fd = oncrpc::connectTcp(addr, deadline, &refused);
    if (fd < 0) {
        if (refused == ECONNREFUSED)
            *status = VI_ERROR_MACHINE_NAVAIL;
        return 0;
    }
    oncrpc::RpcClient rpc(fd, firstXid());
    XdrWriter w;
    w.u32(vxi11::CoreProgram);
    w.u32(vxi11::CoreVersion);
    w.u32(portmap::ProtoTcp);
    w.u32(0);
    Bytes res;
    const IoResult io = rpc.call(portmap::Program, portmap::Version2, portmap::GetPort, w.bytes(), deadline, &res);
    if (io != IoResult::Ok) {
        *status = openStatus(io);
        return 0;
    }
    XdrReader r(res);
    const uint32_t port = r.u32();
    return r.ok() && port <= 0xffff ? static_cast<uint16_t>(port) : 0;
}

} // namespace

std::unique_ptr<Transport> openVxi11Transport(const Resource &rsrc, ViUInt32 openTimeoutMs, ViStatus *status)
{
    *status = VI_ERROR_RSRC_NFOUND;
    const Deadline deadline =
        openTimeoutMs == VI_TMO_INFINITE ? Deadline::never() : Deadline::after(openTimeoutMs);

    uint16_t port = rsrc.port ? rsrc.port : corePortFromPortmapper(rsrc.host, deadline, status);
    if (port == 0)
        return nullptr;
    oncrpc::Address addr;
    if (!oncrpc::resolveHost(rsrc.host, port, deadline, &addr))
        return nullptr;
    // A port named in the resource string that refuses is reported like a
    // refused socket; one the portmapper named stays "not found".
    int refused = 0;
    int fd = oncrpc::connectTcp(addr, deadline, &refused);
    if (fd < 0) {
        if (rsrc.port && refused == ECONNREFUSED)
            *status = VI_ERROR_MACHINE_NAVAIL;
        return nullptr;
    }
    auto rpc = std::make_unique<oncrpc::RpcClient>(fd, firstXid());

    XdrWriter w;
    w.i32(static_cast<int32_t>(::getpid())); // clientId: only echoed in the device's logs
    w.boolean(false);                         // lockDevice
    w.u32(0);                                 // lock_timeout
    w.string(rsrc.device);
    Bytes res;
    const IoResult io = rpc->call(vxi11::CoreProgram, vxi11::CoreVersion, vxi11::CreateLink, w.bytes(), deadline, &res);
    if (io != IoResult::Ok) {
        *status = openStatus(io);
        return nullptr;
    }
    XdrReader r(res);
    const uint32_t error = r.u32();
    const uint32_t lid = r.u32();
    r.u32(); // abortPort: no abort is ever sent
    uint32_t maxRecvSize = r.u32();
    if (!r.ok() || error != vxi11::ErrNone)
        return nullptr;
    // A device announcing no room at all would make every write loop: take
    // the smallest size a device must accept instead.
    if (maxRecvSize == 0)
        maxRecvSize = vxi11::MinMaxRecvSize;
    *status = VI_SUCCESS;
    return std::make_unique<Vxi11Transport>(std::move(rpc), lid, maxRecvSize);
}

} // namespace visa
