// One HiSLIP session of the simulator: a synchronous and an asynchronous
// channel to one instrument, each served by its connection's thread, and
// what the two share: the client's maximum message size, a device clear
// under way, the mode, the status byte and the locks.
#pragma once

#include "sim/endpoint.h"
#include "sim/hislipchannel.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace benchsim {

class HislipSession {
public:
    // maxMessage: the largest message the server takes (and announces).
    HislipSession(uint16_t id, Endpoint *endpoint, uint64_t maxMessage);
    ~HislipSession();
    HislipSession(const HislipSession &) = delete;
    HislipSession &operator=(const HislipSession &) = delete;

    uint16_t id() const { return id_; }

    // The synchronous channel's thread, from InitializeResponse until the
    // session ends (the client hangs up, a fatal error, an injected Close).
    void serveSync(const std::shared_ptr<HislipChannel> &sync);

    // The locks this session holds. They are granted at once and hold
    // nobody back: one bench has one client.
    struct LockState {
        bool exclusive = false;
        bool shared = false;
    };
    // Every session's locks, for AsyncLockInfo.
    using LockCensus = std::function<void(bool *exclusiveGranted, uint32_t *holders)>;
    // False when the session has an asynchronous channel already, or has ended.
    bool attachAsync(const std::shared_ptr<HislipChannel> &async);
    // The asynchronous channel's thread, from AsyncInitializeResponse on.
    void serveAsync(HislipChannel &async, const LockCensus &census);
    LockState locks() const;

    // Shuts both channels down; both threads' loops then return.
    void end();

private:
    enum class Outcome { Done, End };
    enum class Wait { Ready, Cleared, Interrupted, End };
    Outcome run(HislipChannel &sync, QByteArray message, uint32_t messageId);
    Wait waitDelay(HislipChannel &sync, int delayMs);
    bool sendReply(HislipChannel &sync, uint32_t messageId, const QByteArray &bytes);
    bool sendInterrupted(HislipChannel &sync, uint32_t messageId);
    static bool sendDeviceError(HislipChannel &channel, int deviceError);
    bool remoteLocal(HislipChannel &async, uint8_t code);
    bool lock(HislipChannel &async, uint8_t control, bool shared);

    void beginClear();
    uint8_t finishClear(uint8_t requested);
    bool clearing() const;
    bool overlapped() const;
    uint64_t clientMax() const;
    void setMav(bool on);

    const uint16_t id_;
    Endpoint *const endpoint_;
    const uint64_t maxMessage_;
    const int clearFd_; // eventfd, readable from AsyncDeviceClear to DeviceClearComplete
    // Synchronous channel only: a response was dropped for a message that
    // came in before it was sent; the next message is told so.
    bool interrupted_ = false;

    mutable std::mutex mutex_; // guards what follows
    std::shared_ptr<HislipChannel> sync_, async_;
    uint64_t clientMax_;       // header included, as the client announced it
    bool ended_ = false;
    bool clearing_ = false;
    bool overlapped_ = false;
    bool mav_ = false;         // a response went out that the client has not confirmed
    LockState locks_;
};

} // namespace benchsim
