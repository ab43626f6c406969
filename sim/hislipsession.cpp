#include "sim/hislipsession.h"

#include "visa/vxi11proto.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace benchsim {

using hislip::Header;

namespace {

// A client may announce any maximum message size; replies go out in
// payloads of at least this many bytes, so a tiny one cannot make a 40 MB
// record cost millions of sends.
constexpr uint64_t MinReplyPayload = 256;

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The end of the line that closes a program message is no part of it; some
// clients end with CR LF.
QByteArray withoutTerminator(QByteArray message)
{
    if (message.endsWith('\n'))
        message.chop(1);
    if (message.endsWith('\r'))
        message.chop(1);
    return message;
}

} // namespace

HislipSession::HislipSession(uint16_t id, Endpoint *endpoint, uint64_t maxMessage)
    : id_(id), endpoint_(endpoint), maxMessage_(maxMessage), clearFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      clientMax_(maxMessage)
{
}

HislipSession::~HislipSession()
{
    if (clearFd_ >= 0)
        ::close(clearFd_);
}

bool HislipSession::attachAsync(const std::shared_ptr<HislipChannel> &async)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (async_ || ended_)
        return false;
    async_ = async;
    return true;
}

void HislipSession::end()
{
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    if (sync_)
        sync_->shutdown();
    if (async_)
        async_->shutdown();
}

HislipSession::LockState HislipSession::locks() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return locks_;
}

bool HislipSession::clearing() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return clearing_;
}

bool HislipSession::overlapped() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return overlapped_;
}

uint64_t HislipSession::clientMax() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return clientMax_;
}

void HislipSession::setMav(bool on)
{
    std::lock_guard<std::mutex> lock(mutex_);
    mav_ = on;
}

void HislipSession::beginClear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    clearing_ = true;
    mav_ = false;
    const uint64_t one = 1;
    (void)!::write(clearFd_, &one, sizeof one);
}

// The client asks for a mode (bit 0: overlapped) and is granted it.
uint8_t HislipSession::finishClear(uint8_t requested)
{
    std::lock_guard<std::mutex> lock(mutex_);
    clearing_ = false;
    mav_ = false;
    overlapped_ = requested & hislip::Overlapped;
    uint64_t count;
    (void)!::read(clearFd_, &count, sizeof count);
    return overlapped_ ? hislip::Overlapped : 0;
}

void HislipSession::serveSync(const std::shared_ptr<HislipChannel> &syncChannel)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sync_ = syncChannel;
        if (ended_)
            return;
    }
    HislipChannel &sync = *syncChannel;
    QByteArray input; // the program message being collected
    for (;;) {
        Header h;
        QByteArray payload;
        const HislipChannel::Status status = sync.next(&h, &payload);
        if (status != HislipChannel::Status::Message) {
            if (status == HislipChannel::Status::TooLarge && sync.dropped()) {
                if (!sync.sendError(hislip::Error, hislip::ErrorMessageTooLarge))
                    return;
                continue;
            }
            if (status == HislipChannel::Status::BadHeader || status == HislipChannel::Status::TooLarge)
                sync.sendError(hislip::FatalError, hislip::FatalBadHeader);
            else if (status == HislipChannel::Status::Stalled)
                sync.sendError(hislip::FatalError, hislip::FatalUnidentified);
            return;
        }
        // Between AsyncDeviceClear and DeviceClearComplete whatever the
        // client sent before the clear is dropped.
        if (clearing() && h.type != hislip::DeviceClearComplete)
            continue;
        switch (h.type) {
        case hislip::Data:
        case hislip::DataEnd:
        case hislip::Trigger: {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!async_) {
                    sync.sendError(hislip::FatalError, hislip::FatalNoChannels);
                    return;
                }
                if (h.control & hislip::RmtDelivered)
                    mav_ = false;
            }
            if (interrupted_ && !sendInterrupted(sync, h.param))
                return;
            if (h.type == hislip::Trigger)
                break; // nothing here waits for a trigger
            input.append(payload);
            // A message without end is handed over in pieces, as on the
            // other transports.
            while (input.size() >= MaxProgramMessage) {
                const QByteArray piece = input.left(MaxProgramMessage);
                input.remove(0, MaxProgramMessage);
                if (run(sync, piece, h.param) == Outcome::End)
                    return;
            }
            if (h.type == hislip::DataEnd) {
                QByteArray message;
                message.swap(input);
                if (run(sync, message, h.param) == Outcome::End)
                    return;
            }
            break;
        }
        case hislip::DeviceClearComplete:
            input.clear();
            interrupted_ = false;
            if (!sync.send(hislip::DeviceClearAcknowledge, finishClear(h.control), 0))
                return;
            break;
        case hislip::Initialize:
        case hislip::AsyncInitialize:
            sync.sendError(hislip::FatalError, hislip::FatalBadInitialization);
            return;
        default:
            if (!sync.sendError(hislip::Error, h.type >= hislip::FirstVendorType ? hislip::ErrorBadVendorMessage
                                                                                  : hislip::ErrorBadMessageType))
                return;
        }
    }
}

// HiSLIP has no device errors: an injected DeviceIoError becomes an Error
// message (the client fails the exchange at once), an injected
// DeviceIoTimeout sends nothing, so the client's own time-out ends it.
bool HislipSession::sendDeviceError(HislipChannel &channel, int deviceError)
{
    static const char text[] = "Instrument I/O error";
    if (deviceError == int(vxi11::ErrIoTimeout))
        return true;
    return channel.send(hislip::Error, hislip::ErrorUnidentified, 0, text, sizeof text - 1);
}

// A response was dropped because this message (messageId) came before it
// was sent: Interrupted on both channels, synchronized mode only.
bool HislipSession::sendInterrupted(HislipChannel &sync, uint32_t messageId)
{
    interrupted_ = false;
    std::shared_ptr<HislipChannel> async;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        async = async_;
    }
    if (async)
        async->send(hislip::AsyncInterrupted, 0, messageId);
    return sync.send(hislip::Interrupted, 0, messageId);
}

HislipSession::Outcome HislipSession::run(HislipChannel &sync, QByteArray message, uint32_t messageId)
{
    message = withoutTerminator(std::move(message));
    if (message.isEmpty())
        return Outcome::Done;
    const Response r = endpoint_->handle(message);
    if (r.delayMs > 0) {
        switch (waitDelay(sync, r.delayMs)) {
        case Wait::Ready:
            break;
        case Wait::Cleared:
            return Outcome::Done;
        case Wait::Interrupted:
            interrupted_ = true;
            return Outcome::Done;
        case Wait::End:
            return Outcome::End;
        }
    }
    switch (r.action) {
    case Response::Action::Reply:
        return sendReply(sync, messageId, r.bytes) ? Outcome::Done : Outcome::End;
    case Response::Action::Close:
        return Outcome::End;
    case Response::Action::DeviceError:
        return sendDeviceError(sync, r.deviceError) ? Outcome::Done : Outcome::End;
    case Response::Action::None:
        break;
    }
    return Outcome::Done;
}

// Sleeps for a response's delay. It ends early when the server stops or
// the client hangs up (End), a device clear begins (Cleared), or, in
// synchronized mode, the client sends its next message (Interrupted): the
// response is then dropped.
HislipSession::Wait HislipSession::waitDelay(HislipChannel &sync, int delayMs)
{
    const int64_t until = nowMs() + delayMs;
    const bool synchronized = !overlapped();
    for (;;) {
        if (synchronized && sync.pending() == HislipChannel::Pending::Input)
            return Wait::Interrupted;
        const int64_t left = until - nowMs();
        if (left <= 0)
            return Wait::Ready;
        pollfd p[3] = {{sync.wakeFd(), POLLIN, 0},
                       {clearFd_, POLLIN, 0},
                       {sync.fd(), short(synchronized ? POLLIN | POLLRDHUP : POLLRDHUP), 0}};
        const int n = ::poll(p, 3, int(std::min<int64_t>(left, INT_MAX)));
        if (n < 0 && errno != EINTR)
            return Wait::End;
        if (n <= 0)
            continue;
        if (p[0].revents)
            return Wait::End;
        if (p[1].revents)
            return Wait::Cleared;
        if (p[2].revents && (!synchronized || sync.pending() == HislipChannel::Pending::HungUp))
            return Wait::End;
    }
}

// A response as Data ... DataEnd, each message (header included) within the
// client's maximum, all with the MessageID of the request's DataEnd. A
// device clear stops it after the message under way, and so does, in
// synchronized mode, a new message from the client. False when the
// connection failed.
bool HislipSession::sendReply(HislipChannel &sync, uint32_t messageId, const QByteArray &bytes)
{
    const uint64_t max = clientMax();
    const size_t piece = size_t(std::max(max > hislip::HeaderSize ? max - hislip::HeaderSize : 0, MinReplyPayload));
    const size_t size = size_t(bytes.size());
    setMav(true);
    for (size_t offset = 0;;) {
        const size_t len = std::min(piece, size - offset);
        const bool last = offset + len == size;
        if (!sync.send(last ? hislip::DataEnd : hislip::Data, 0, messageId, bytes.constData() + offset, len))
            return false;
        offset += len;
        if (last || clearing())
            return true;
        if (!overlapped() && sync.pending() == HislipChannel::Pending::Input) {
            interrupted_ = true;
            setMav(false);
            return true;
        }
    }
}

} // namespace benchsim
