#include "sim/vxi11link.h"

#include "sim/bench.h"
#include "visa/vxi11proto.h"

#include <algorithm>

#include <poll.h>

namespace benchsim {

using Clock = std::chrono::steady_clock;

namespace {
// How soon a waiting read notices that its client hung up.
constexpr auto HangUpCheck = std::chrono::milliseconds(200);
} // namespace

Vxi11Link::WriteResult Vxi11Link::write(const uint8_t *data, size_t len, bool end)
{
    WriteResult res;
    input_.append(reinterpret_cast<const char *>(data), static_cast<int>(len));
    res.size = static_cast<uint32_t>(len);
    const bool lineFeed = len > 0 && data[len - 1] == '\n';
    if (!end && !lineFeed && input_.size() < MaxProgramMessage)
        return res;

    QByteArray message;
    message.swap(input_);
    if (message.endsWith('\n'))
        message.chop(1);
    if (message.endsWith('\r'))
        message.chop(1); // pyvisa terminates with CR LF by default
    hasOutput_ = false;
    output_.clear();
    outputPos_ = 0;
    pendingError_ = 0;
    if (message.isEmpty())
        return res;

    const Response r = endpoint_->handle(message);
    switch (r.action) {
    case Response::Action::Reply:
        output_ = r.bytes;
        hasOutput_ = true;
        readyAt_ = Clock::now() + std::chrono::milliseconds(std::max(0, r.delayMs));
        break;
    case Response::Action::DeviceError:
        // Fails the exchange's read at once; the link stays usable.
        pendingError_ = r.deviceError ? static_cast<uint32_t>(r.deviceError) : vxi11::ErrIoError;
        break;
    case Response::Action::Close:
        res.close = true;
        res.closeDelayMs = std::max(0, r.delayMs);
        break;
    case Response::Action::None:
        break;
    }
    return res;
}

Vxi11Link::ReadResult Vxi11Link::read(uint32_t requestSize, uint32_t ioTimeoutMs, bool termCharSet, uint8_t termChar,
                                       int peerFd)
{
    ReadResult res;
    if (pendingError_) {
        res.error = pendingError_;
        pendingError_ = 0;
        return res;
    }

    // io_timeout may be "infinite" (0xFFFFFFFF ms, 49 days): cap it at a day.
    const uint32_t waitMs = std::min<uint32_t>(ioTimeoutMs, 24u * 3600u * 1000u);
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    {
        std::unique_lock<std::mutex> lock(waker_->mutex);
        aborted_ = false;
        auto wakeUp = [this] { return waker_->stopping || aborted_; };
        const auto until = hasOutput_ ? std::min(readyAt_, deadline) : deadline;
        // A client gone does not say so on its own: look between slices of
        // the wait, so a read nobody waits for does not hold its thread and
        // socket until its io_timeout.
        while (!wakeUp() && Clock::now() < until) {
            waker_->cv.wait_until(lock, std::min(until, Clock::now() + HangUpCheck), wakeUp);
            if (peerFd >= 0 && !wakeUp()) {
                lock.unlock();
                pollfd p{peerFd, POLLRDHUP, 0};
                const bool gone = ::poll(&p, 1, 0) > 0;
                lock.lock();
                if (gone) {
                    res.dropConnection = true;
                    return res;
                }
            }
        }
        if (waker_->stopping) {
            res.dropConnection = true;
            return res;
        }
        if (aborted_) {
            aborted_ = false;
            res.error = vxi11::ErrAbort;
            return res;
        }
    }
    if (!hasOutput_ || Clock::now() < readyAt_) {
        res.error = vxi11::ErrIoTimeout;
        return res;
    }

    const int left = output_.size() - outputPos_;
    int n = static_cast<int>(std::min<uint32_t>(requestSize, static_cast<uint32_t>(left)));
    if (termCharSet) {
        const int at = output_.indexOf(static_cast<char>(termChar), outputPos_);
        if (at >= 0 && at < outputPos_ + n) {
            n = at - outputPos_ + 1;
            res.reason |= vxi11::ReasonChr;
        }
    }
    if (outputPos_ == 0 && n == output_.size()) {
        res.data = output_;
    } else {
        res.owner = output_;
        res.data = QByteArray::fromRawData(res.owner.constData() + outputPos_, n);
    }
    outputPos_ += n;
    if (outputPos_ == output_.size()) {
        // END goes with the last byte, also when the response is an exact
        // multiple of the requested size.
        res.reason |= vxi11::ReasonEnd;
        hasOutput_ = false;
        output_.clear();
        outputPos_ = 0;
    } else if (!(res.reason & vxi11::ReasonChr)) {
        res.reason |= vxi11::ReasonReqCnt;
    }
    return res;
}

Vxi11Link::ControlResult Vxi11Link::remoteLocal(bool local)
{
    ControlResult res;
    const Response r = endpoint_->handle(local ? GoToLocalCommand : GoToRemoteCommand);
    switch (r.action) {
    case Response::Action::DeviceError:
        res.error = r.deviceError ? static_cast<uint32_t>(r.deviceError) : vxi11::ErrIoError;
        break;
    case Response::Action::Close:
        res.close = true;
        break;
    case Response::Action::Reply: // the call has no response to withhold or delay
    case Response::Action::None:
        break;
    }
    return res;
}

void Vxi11Link::clear()
{
    input_.clear();
    output_.clear();
    outputPos_ = 0;
    hasOutput_ = false;
    pendingError_ = 0;
}

void Vxi11Link::abort()
{
    std::lock_guard<std::mutex> lock(waker_->mutex);
    aborted_ = true;
    waker_->cv.notify_all();
}

} // namespace benchsim
