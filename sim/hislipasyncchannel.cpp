// The asynchronous channel of a HiSLIP session: the messages that must
// overtake the synchronous channel's (device clear, status, remote/local,
// locks) and the maximum message size.
#include "sim/hislipsession.h"

#include "sim/bench.h"

namespace benchsim {

using hislip::Header;

void HislipSession::serveAsync(HislipChannel &async, const LockCensus &census)
{
    for (;;) {
        Header h;
        QByteArray payload;
        const HislipChannel::Status status = async.next(&h, &payload);
        if (status != HislipChannel::Status::Message) {
            if (status == HislipChannel::Status::TooLarge && async.dropped()) {
                if (!async.sendError(hislip::Error, hislip::ErrorMessageTooLarge))
                    return;
                continue;
            }
            if (status == HislipChannel::Status::BadHeader || status == HislipChannel::Status::TooLarge)
                async.sendError(hislip::FatalError, hislip::FatalBadHeader);
            else if (status == HislipChannel::Status::Stalled)
                async.sendError(hislip::FatalError, hislip::FatalUnidentified);
            return;
        }
        bool ok = true;
        switch (h.type) {
        case hislip::AsyncMaximumMessageSize: {
            if (payload.size() != int(hislip::SizePayloadLength)) {
                ok = async.sendError(hislip::Error, hislip::ErrorUnidentified);
                break;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                clientMax_ = hislip::decodeU64(reinterpret_cast<const uint8_t *>(payload.constData()));
            }
            uint8_t ours[hislip::SizePayloadLength];
            hislip::encodeU64(maxMessage_, ours);
            ok = async.send(hislip::AsyncMaximumMessageSizeResponse, 0, 0, reinterpret_cast<const char *>(ours),
                            sizeof ours);
            break;
        }
        case hislip::AsyncDeviceClear:
            beginClear();
            // Synchronized mode preferred.
            ok = async.send(hislip::AsyncDeviceClearAcknowledge, 0, 0);
            break;
        case hislip::AsyncRemoteLocalControl:
            ok = remoteLocal(async, h.control);
            break;
        case hislip::AsyncStatusQuery: {
            uint8_t stb = 0;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (h.control & hislip::RmtDelivered)
                    mav_ = false;
                stb = mav_ ? 0x10 : 0; // bit 4: message available
            }
            ok = async.send(hislip::AsyncStatusResponse, stb, 0);
            break;
        }
        case hislip::AsyncLock:
            ok = lock(async, h.control, !payload.isEmpty());
            break;
        case hislip::AsyncLockInfo: {
            bool exclusive = false;
            uint32_t holders = 0;
            census(&exclusive, &holders);
            ok = async.send(hislip::AsyncLockInfoResponse, exclusive ? 1 : 0, holders);
            break;
        }
        case hislip::Initialize:
        case hislip::AsyncInitialize:
            async.sendError(hislip::FatalError, hislip::FatalBadInitialization);
            return;
        default:
            ok = async.sendError(hislip::Error, h.type >= hislip::FirstVendorType ? hislip::ErrorBadVendorMessage
                                                                                  : hislip::ErrorBadMessageType);
        }
        if (!ok)
            return;
    }
}

// Go-to-local and go-to-remote reach the instrument as GoToLocalCommand
// and GoToRemoteCommand, as over VXI-11; the codes that only change remote
// enable are answered and go no further. False ends the session.
bool HislipSession::remoteLocal(HislipChannel &async, uint8_t code)
{
    const char *command = nullptr;
    switch (code) {
    case hislip::DisableRemoteGoToLocal:
    case hislip::GoToLocal:
        command = GoToLocalCommand;
        break;
    case hislip::EnableRemoteGoToRemote:
    case hislip::EnableRemoteGoToRemoteLockOut:
        command = GoToRemoteCommand;
        break;
    case hislip::DisableRemote:
    case hislip::EnableRemote:
    case hislip::EnableRemoteLockOutLocal:
        break;
    default:
        return async.sendError(hislip::Error, hislip::ErrorBadControlCode);
    }
    if (command) {
        const Response r = endpoint_->handle(command);
        switch (r.action) {
        case Response::Action::Close:
            return false;
        case Response::Action::DeviceError:
            return sendDeviceError(async, r.deviceError);
        case Response::Action::Reply: // the call has no response to withhold or delay
        case Response::Action::None:
            break;
        }
    }
    return async.send(hislip::AsyncRemoteLocalResponse, 0, 0);
}

// AsyncLock: control 1 asks for a lock (payload: the shared lock's name,
// empty for the exclusive one), 0 releases. Response codes: 1 granted or
// exclusive released, 2 shared released, 3 error (held already, or
// nothing to release).
bool HislipSession::lock(HislipChannel &async, uint8_t control, bool shared)
{
    uint8_t result = 3;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (control == 1) {
            bool &held = shared ? locks_.shared : locks_.exclusive;
            result = held ? 3 : 1;
            held = true;
        } else if (control == 0) {
            if (locks_.exclusive) {
                locks_.exclusive = false;
                result = 1;
            } else if (locks_.shared) {
                locks_.shared = false;
                result = 2;
            }
        } else {
            result = 0;
        }
    }
    if (result == 0)
        return async.sendError(hislip::Error, hislip::ErrorBadControlCode);
    return async.send(hislip::AsyncLockResponse, result, 0);
}

} // namespace benchsim
