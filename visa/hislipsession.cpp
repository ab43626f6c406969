// TCPIP::host::hislipN[,port]::INSTR sessions: HiSLIP (IVI-6.1). Two TCP
// connections to the same port: the synchronous channel carries program
// and response messages, the asynchronous one device clear, status and
// remote/local, which must overtake them.
//
// Replies are matched by MessageID: only Data and DataEnd that carry the
// MessageID of the last program message sent are delivered. A reply that
// arrives after its query timed out, or the unread rest of one, is dropped
// as it streams past, in synchronized and overlapped mode alike (so in
// overlapped mode a second query sent before the first reply was read
// leaves only the second reply). Interrupted and AsyncInterrupted need
// nothing more than that and are dropped.
#include "visa/deadline.h"
#include "visa/hislipproto.h"
#include "visa/hislipreader.h"
#include "visa/tcpconnect.h"
#include "visa/transport.h"

#include <algorithm>
#include <cerrno>
#include <string>

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace visa {

namespace {

using hislip::Header;

// Two letters of our own in Initialize; not a registered vendor id.
constexpr uint16_t VendorId = uint16_t('Q') << 8 | uint16_t('V');
// The largest message we take, announced in AsyncMaximumMessageSize:
// replies longer than this come in several messages. Their payloads are
// received straight into the caller's memory, so the size costs no memory
// here; a header announcing more is a protocol fault.
constexpr uint64_t MaxReceiveMessage = 1 << 20;
// Of an Error or FatalError's text this much is kept for the status
// description; the rest is dropped.
constexpr size_t MaxErrorText = 200;

ViStatus sendStatus(int err)
{
    return err == EPIPE || err == ECONNRESET || err == ENOTCONN || err == ECONNABORTED || err == ETIMEDOUT
        ? VI_ERROR_CONN_LOST
        : VI_ERROR_IO;
}

// Sends one message, header and payload in one gathering send, the payload
// from where it lies. *sent tells how far a send that failed got.
ViStatus sendMessage(int fd, const Header &h, const uint8_t *payload, const Deadline &deadline, size_t *sent)
{
    uint8_t head[hislip::HeaderSize];
    hislip::encodeHeader(h, head);
    iovec iov[2] = {{head, sizeof head}, {const_cast<uint8_t *>(payload), size_t(h.length)}};
    iovec *v = iov;
    int count = h.length > 0 ? 2 : 1;
    *sent = 0;
    while (count > 0) {
        msghdr m{};
        m.msg_iov = v;
        m.msg_iovlen = size_t(count);
        // MSG_NOSIGNAL: a server that has gone must give a status, not SIGPIPE.
        const ssize_t n = ::sendmsg(fd, &m, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            *sent += size_t(n);
            size_t left = size_t(n);
            while (count > 0 && left >= v->iov_len) {
                left -= v->iov_len;
                ++v;
                --count;
            }
            if (count > 0) {
                v->iov_base = static_cast<uint8_t *>(v->iov_base) + left;
                v->iov_len -= left;
            }
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return sendStatus(errno);
        pollfd p{fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, deadline.pollMs());
        if (r == 0)
            return VI_ERROR_TMO;
        if (r < 0 && errno != EINTR)
            return VI_ERROR_IO;
    }
    return VI_SUCCESS;
}

// Printable ASCII only: the text ends up in an operator's message.
std::string printable(const uint8_t *text, size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += text[i] >= 0x20 && text[i] < 0x7f ? char(text[i]) : '?';
    return s;
}

class HislipTransport : public Transport {
public:
    explicit HislipTransport(int syncFd)
        : sync_(syncFd), syncIn_(MaxReceiveMessage), asyncIn_(MaxReceiveMessage)
    {
        syncIn_.attach(sync_);
    }
    ~HislipTransport() override { close(); }

    // Initialize on the synchronous channel, then the asynchronous channel
    // with AsyncInitialize, then the maximum message sizes both ways.
    ViStatus open(const Resource &rsrc, const Deadline &deadline);

    using Transport::read;
    ViStatus write(const ViByte *buf, ViUInt32 cnt, ViUInt32 *ret, ViUInt32 timeoutMs) override;
    ViStatus read(ReadTarget &to, ViUInt32 cnt, ViUInt32 *ret, ViUInt32 timeoutMs) override;
    ViStatus gotoLocal(ViUInt32 timeoutMs) override;
    ViStatus clear(ViUInt32 timeoutMs) override;
    ViStatus readStb(ViUInt16 *stb, ViUInt32 timeoutMs) override;
    std::string failureText(ViStatus status) const override
    {
        return status == failStatus_ ? failText_ : std::string();
    }

    ViStatus close() override
    {
        if (sync_ >= 0)
            ::close(sync_);
        if (async_ >= 0)
            ::close(async_);
        sync_ = async_ = -1;
        return VI_SUCCESS;
    }

private:
    bool connected() const { return sync_ >= 0 && async_ >= 0; }
    // The MessageID of the last Data, DataEnd or Trigger sent (before any:
    // the one before the first).
    uint32_t lastSentId() const { return nextId_ - hislip::MessageIdStep; }

    // A request on the asynchronous channel and its answer of type
    // answerType, whose payload (if answerPayload) must be exactly
    // answerLength bytes.
    ViStatus asyncRequest(uint8_t type, uint8_t control, uint32_t param, const uint8_t *payload, size_t length,
                          uint8_t answerType, Header *answer, const Deadline &deadline,
                          uint8_t *answerPayload = nullptr, size_t answerLength = 0);
    // Drops what has arrived on the asynchronous channel unasked
    // (AsyncInterrupted, AsyncServiceRequest, the late answer to a request
    // that timed out), so it is not taken for the next answer.
    ViStatus dropUnasked(const Deadline &deadline);
    // An Error or FatalError message h, just read from in: its text is
    // kept for failureText(). Error: VI_ERROR_IO, the session goes on;
    // FatalError: the server closes both channels, so do we.
    ViStatus serverError(HislipReader &in, int fd, const Header &h, const Deadline &deadline);
    // A failed receive or send. A header from the server that is not
    // HiSLIP is named to it (FatalError, best effort); after that, or once
    // a channel is gone, nothing more can be exchanged.
    ViStatus failed(ViStatus status, int fd);
    void fail(ViStatus status, const std::string &text)
    {
        failStatus_ = status;
        failText_ = text;
    }
    void clearFailure() { failStatus_ = VI_SUCCESS; }

    int sync_;
    int async_ = -1;
    HislipReader syncIn_;
    HislipReader asyncIn_;
    uint64_t serverMax_ = 0;     // largest message the server takes (header counted, see write())
    uint32_t nextId_ = hislip::FirstMessageId;
    bool awaiting_ = false;      // a program message went out whose reply has not ended
    uint32_t replyId_ = 0;       // its MessageID
    bool inReply_ = false;       // the current payload on the synchronous channel is part of that reply
    bool replyEnds_ = false;     // ... and a DataEnd
    bool rmtDelivered_ = false;  // a whole reply was delivered since the last message sent
    ViStatus failStatus_ = VI_SUCCESS;
    std::string failText_;
};

ViStatus HislipTransport::failed(ViStatus status, int fd)
{
    if (status == VI_ERROR_IO && fd >= 0) {
        fail(VI_ERROR_IO, "the server sent a poorly formed message header");
        const char text[] = "poorly formed message header";
        const Header h{hislip::FatalError, hislip::FatalBadHeader, 0, sizeof text - 1};
        size_t sent = 0;
        sendMessage(fd, h, reinterpret_cast<const uint8_t *>(text), Deadline(0), &sent);
    }
    if (status == VI_ERROR_IO || status == VI_ERROR_CONN_LOST)
        close();
    return status;
}

ViStatus HislipTransport::serverError(HislipReader &in, int fd, const Header &h, const Deadline &deadline)
{
    uint8_t text[MaxErrorText];
    const size_t n = size_t(std::min<uint64_t>(h.length, sizeof text));
    const bool fatal = h.type == hislip::FatalError;
    std::string what = fatal ? std::string("fatal error from the server: ") + hislip::fatalErrorText(h.control)
                             : std::string("error from the server: ") + hislip::errorText(h.control);
    if (in.payloadAll(fd, text, n, deadline) == VI_SUCCESS && n > 0)
        what += " (" + printable(text, n) + ")";
    const ViStatus status = fatal ? VI_ERROR_CONN_LOST : VI_ERROR_IO;
    fail(status, what);
    if (fatal)
        close();
    return status;
}

ViStatus HislipTransport::dropUnasked(const Deadline &deadline)
{
    while (asyncIn_.pending(async_)) {
        Header h;
        const ViStatus status = asyncIn_.nextHeader(async_, &h, deadline);
        if (status != VI_SUCCESS)
            return failed(status, async_);
        if (h.type == hislip::FatalError)
            return serverError(asyncIn_, async_, h, deadline);
    }
    return VI_SUCCESS;
}

ViStatus HislipTransport::asyncRequest(uint8_t type, uint8_t control, uint32_t param, const uint8_t *payload,
                                       size_t length, uint8_t answerType, Header *answer, const Deadline &deadline,
                                       uint8_t *answerPayload, size_t answerLength)
{
    ViStatus status = dropUnasked(deadline);
    if (status != VI_SUCCESS)
        return status;
    asyncIn_.expectReply();
    size_t sent = 0;
    status = sendMessage(async_, Header{type, control, param, length}, payload, deadline, &sent);
    if (status != VI_SUCCESS)
        return failed(sent > 0 ? VI_ERROR_CONN_LOST : status, -1);
    for (;;) {
        status = asyncIn_.nextHeader(async_, answer, deadline);
        if (status != VI_SUCCESS)
            return failed(status, async_);
        if (answer->type == answerType)
            break;
        if (answer->type == hislip::Error || answer->type == hislip::FatalError)
            return serverError(asyncIn_, async_, *answer, deadline);
        // Anything else is dropped with its payload.
    }
    if (!answerPayload)
        return VI_SUCCESS;
    if (answer->length != answerLength) {
        fail(VI_ERROR_IO, std::string("the server's ") + hislip::messageTypeName(answerType) + " has a payload of the wrong size");
        return VI_ERROR_IO;
    }
    status = asyncIn_.payloadAll(async_, answerPayload, answerLength, deadline);
    return status == VI_SUCCESS ? status : failed(status, async_);
}

ViStatus HislipTransport::open(const Resource &rsrc, const Deadline &deadline)
{
    // Initialize: our version and vendor id, and the sub-address.
    size_t sent = 0;
    const std::string &sub = rsrc.device;
    ViStatus status = sendMessage(sync_, Header{hislip::Initialize, 0,
                                                uint32_t(hislip::ProtocolVersion) << 16 | VendorId, sub.size()},
                                  reinterpret_cast<const uint8_t *>(sub.data()), deadline, &sent);
    if (status != VI_SUCCESS)
        return status == VI_ERROR_TMO ? status : VI_ERROR_RSRC_NFOUND;
    syncIn_.expectReply();
    Header h;
    status = syncIn_.nextHeader(sync_, &h, deadline);
    // Something that is not a HiSLIP server (or none at all) at that port.
    if (status != VI_SUCCESS)
        return status == VI_ERROR_TMO ? status : VI_ERROR_RSRC_NFOUND;
    if (h.type == hislip::FatalError)
        return h.control == hislip::FatalTooManyClients ? VI_ERROR_RSRC_BUSY : VI_ERROR_RSRC_NFOUND;
    if (h.type != hislip::InitializeResponse)
        return VI_ERROR_RSRC_NFOUND;
    // The session runs in the mode the server prefers (control bit 0) until
    // a device clear asks again; either way replies are matched as above.
    // The session id ties the second channel to this one.
    const uint32_t sessionId = h.param & 0xffff;

    ViStatus connectStatus = VI_ERROR_RSRC_NFOUND;
    async_ = tcpConnect(rsrc.host, rsrc.port, deadline.remainingMs(), &connectStatus);
    if (async_ < 0)
        return connectStatus;
    asyncIn_.attach(async_);
    asyncIn_.expectReply();
    status = sendMessage(async_, Header{hislip::AsyncInitialize, 0, sessionId, 0}, nullptr, deadline, &sent);
    if (status == VI_SUCCESS)
        status = asyncIn_.nextHeader(async_, &h, deadline);
    if (status != VI_SUCCESS)
        return status == VI_ERROR_TMO ? status : VI_ERROR_RSRC_NFOUND;
    if (h.type == hislip::FatalError)
        return h.control == hislip::FatalTooManyClients ? VI_ERROR_RSRC_BUSY : VI_ERROR_RSRC_NFOUND;
    if (h.type != hislip::AsyncInitializeResponse)
        return VI_ERROR_RSRC_NFOUND;

    uint8_t ours[hislip::SizePayloadLength];
    uint8_t theirs[hislip::SizePayloadLength];
    hislip::encodeU64(MaxReceiveMessage, ours);
    status = asyncRequest(hislip::AsyncMaximumMessageSize, 0, 0, ours, sizeof ours,
                          hislip::AsyncMaximumMessageSizeResponse, &h, deadline, theirs, sizeof theirs);
    if (status != VI_SUCCESS)
        return status == VI_ERROR_TMO ? status : VI_ERROR_RSRC_NFOUND;
    serverMax_ = hislip::decodeU64(theirs);
    return VI_SUCCESS;
}

ViStatus HislipTransport::write(const ViByte *buf, ViUInt32 cnt, ViUInt32 *ret, ViUInt32 timeoutMs)
{
    *ret = 0;
    if (!connected())
        return VI_ERROR_CONN_LOST;
    clearFailure();
    const Deadline deadline(timeoutMs);
    // Servers differ on whether the maximum counts the header; counted,
    // every server takes the pieces.
    const uint64_t piece = serverMax_ > hislip::HeaderSize ? serverMax_ - hislip::HeaderSize : 1;
    // What is left of an earlier reply is not this message's answer.
    awaiting_ = inReply_ = false;
    ViUInt32 done = 0;
    do {
        const ViUInt32 len = ViUInt32(std::min<uint64_t>(cnt - done, piece));
        const bool last = done + len == cnt;
        const Header h{last ? hislip::DataEnd : hislip::Data, rmtDelivered_ ? hislip::RmtDelivered : uint8_t(0),
                       nextId_, len};
        size_t sent = 0;
        const ViStatus status = sendMessage(sync_, h, buf + done, deadline, &sent);
        if (status != VI_SUCCESS) {
            // Half a message on the wire: the stream cannot be resumed.
            if (sent > 0)
                close();
            return sent > 0 && status == VI_ERROR_TMO ? status : failed(status, -1);
        }
        rmtDelivered_ = false;
        if (last) {
            awaiting_ = true;
            replyId_ = nextId_;
        }
        nextId_ += hislip::MessageIdStep;
        done += len;
        *ret = done;
    } while (done < cnt && !deadline.expired());
    return done == cnt ? VI_SUCCESS : VI_ERROR_TMO;
}

ViStatus HislipTransport::read(ReadTarget &to, ViUInt32 cnt, ViUInt32 *ret, ViUInt32 timeoutMs)
{
    *ret = 0;
    if (!connected())
        return VI_ERROR_CONN_LOST;
    clearFailure();
    const Deadline deadline(timeoutMs);
    ViUInt32 got = 0;
    bool first = true;
    for (;;) {
        if (inReply_ && syncIn_.payloadLeft() > 0 && got < cnt) {
            size_t len = 0;
            ViByte *dst = to.room(size_t(std::min<uint64_t>(syncIn_.payloadLeft(), cnt - got)), &len);
            size_t n = 0;
            const ViStatus status = syncIn_.payload(sync_, dst, len, &n, deadline);
            if (status != VI_SUCCESS)
                return failed(status, sync_);
            got += ViUInt32(n);
            *ret = got;
            const ViStatus committed = to.commit(n);
            if (committed != VI_SUCCESS)
                return committed; // the rest of the reply stays for the next read
            continue;
        }
        // END with the last requested byte is still the end of the
        // message: VI_SUCCESS, not VI_SUCCESS_MAX_CNT.
        if (inReply_ && replyEnds_ && syncIn_.payloadLeft() == 0) {
            inReply_ = awaiting_ = false;
            rmtDelivered_ = true;
            return VI_SUCCESS;
        }
        if (got == cnt)
            return VI_SUCCESS_MAX_CNT;
        if (first)
            syncIn_.expectReply();
        first = false;
        Header h;
        const ViStatus status = syncIn_.nextHeader(sync_, &h, deadline);
        if (status != VI_SUCCESS)
            return failed(status, sync_);
        inReply_ = false;
        switch (h.type) {
        case hislip::Data:
        case hislip::DataEnd:
            if (awaiting_ && h.param == replyId_) {
                inReply_ = true;
                replyEnds_ = h.type == hislip::DataEnd;
            }
            break;
        case hislip::Error:
        case hislip::FatalError:
            return serverError(syncIn_, sync_, h, deadline);
        default:
            break; // Interrupted, a late DeviceClearAcknowledge, anything unknown: dropped
        }
    }
}

ViStatus HislipTransport::clear(ViUInt32 timeoutMs)
{
    if (!connected())
        return VI_ERROR_CONN_LOST;
    clearFailure();
    const Deadline deadline(timeoutMs);
    // AsyncDeviceClear overtakes whatever the synchronous channel holds; the
    // server answers with the mode it prefers, which we then ask for.
    Header h;
    ViStatus status = asyncRequest(hislip::AsyncDeviceClear, 0, 0, nullptr, 0, hislip::AsyncDeviceClearAcknowledge,
                                   &h, deadline);
    if (status != VI_SUCCESS)
        return status;
    size_t sent = 0;
    syncIn_.expectReply();
    status = sendMessage(sync_, Header{hislip::DeviceClearComplete, uint8_t(h.control & hislip::Overlapped), 0, 0},
                         nullptr, deadline, &sent);
    if (status != VI_SUCCESS)
        return failed(sent > 0 ? VI_ERROR_CONN_LOST : status, -1);
    // Everything before DeviceClearAcknowledge belongs to before the clear.
    inReply_ = awaiting_ = false;
    for (;;) {
        status = syncIn_.nextHeader(sync_, &h, deadline);
        if (status != VI_SUCCESS)
            return failed(status, sync_);
        if (h.type == hislip::DeviceClearAcknowledge)
            break;
        if (h.type == hislip::FatalError)
            return serverError(syncIn_, sync_, h, deadline);
    }
    nextId_ = hislip::FirstMessageId;
    rmtDelivered_ = false;
    return VI_SUCCESS;
}

ViStatus HislipTransport::gotoLocal(ViUInt32 timeoutMs)
{
    if (!connected())
        return VI_ERROR_CONN_LOST;
    clearFailure();
    Header h;
    return asyncRequest(hislip::AsyncRemoteLocalControl, hislip::GoToLocal, lastSentId(), nullptr, 0,
                        hislip::AsyncRemoteLocalResponse, &h, Deadline(timeoutMs));
}

ViStatus HislipTransport::readStb(ViUInt16 *stb, ViUInt32 timeoutMs)
{
    if (!connected())
        return VI_ERROR_CONN_LOST;
    clearFailure();
    // The MessageID of the last message sent: in synchronized mode the
    // server reports MAV only for a reply to that one.
    Header h;
    const ViStatus status =
        asyncRequest(hislip::AsyncStatusQuery, rmtDelivered_ ? hislip::RmtDelivered : uint8_t(0), lastSentId(),
                     nullptr, 0, hislip::AsyncStatusResponse, &h, Deadline(timeoutMs));
    if (status != VI_SUCCESS)
        return status;
    rmtDelivered_ = false;
    *stb = h.control;
    return VI_SUCCESS;
}

} // namespace

std::unique_ptr<Transport> openHislipTransport(const Resource &rsrc, ViUInt32 openTimeoutMs, ViStatus *status)
{
    const Deadline deadline(openTimeoutMs);
    const int fd = tcpConnect(rsrc.host, rsrc.port, openTimeoutMs, status);
    if (fd < 0)
        return nullptr;
    auto t = std::make_unique<HislipTransport>(fd);
    *status = t->open(rsrc, deadline);
    if (*status != VI_SUCCESS)
        return nullptr;
    return t;
}

} // namespace visa
