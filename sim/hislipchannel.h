// One HiSLIP channel of the simulator's server, as its connection thread
// sees it: the client's messages read one at a time with their payloads
// bounded and every started message finished within a stall limit, and
// messages sent back whole, header and payload in one gathering send.
#pragma once

#include "sim/socketinput.h"
#include "visa/hislipproto.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace benchsim {

class HislipChannel {
public:
    // fd: the connection's non-blocking socket; wakeFd becomes readable when
    // the server stops. maxPayload bounds one incoming message's payload.
    HislipChannel(int fd, int wakeFd, uint64_t maxPayload);
    HislipChannel(const HislipChannel &) = delete;
    HislipChannel &operator=(const HislipChannel &) = delete;

    enum class Status {
        Message,   // *header and *payload hold the next message
        Closed,    // the client hung up, or the server is stopping
        BadHeader, // no "HS" prologue: the stream is out of step
        TooLarge,  // a payload beyond maxPayload; see dropped()
        Stalled,   // a started message did not complete within StallMs
    };
    // Waits for the next message; only the owning thread reads.
    Status next(hislip::Header *header, QByteArray *payload);
    // After TooLarge: the payload was read and dropped, and the stream goes
    // on; false when it was too long to be worth reading (the stream is
    // given up).
    bool dropped() const { return dropped_; }

    enum class Pending { Nothing, Input, HungUp };
    // Whether the client has sent more (or hung up), without waiting.
    Pending pending();

    // Sends one message; any thread. False once the connection failed, the
    // client took nothing for StallMs, or the channel was closed.
    bool send(uint8_t type, uint8_t control, uint32_t param, const char *payload = nullptr, size_t length = 0);
    // Error or FatalError with the code's text as payload.
    bool sendError(uint8_t type, uint8_t code);

    // Ends the connection from any thread: the owner's waits return.
    void shutdown();
    // Called by the owning thread before the connection's descriptor is
    // closed: no thread sends on it afterwards.
    void close();

    int fd() const { return fd_; }
    int wakeFd() const { return wakeFd_; }

    // A started message must be complete within this, and a client must
    // take a message sent to it within this.
    static constexpr int StallMs = 10000;
    // A payload up to this long beyond maxPayload is read and dropped with
    // an Error; a longer one ends the session with a FatalError.
    static constexpr uint64_t MaxDroppedPayload = uint64_t(64) << 20;

private:
    // Waits for the socket until deadlineMs (-1: without limit): false when
    // the client hung up, the server stops, or the deadline passed.
    bool waitReady(int64_t deadlineMs) const;

    const int fd_;
    const int wakeFd_;
    hislip::HeaderReader header_;
    SocketInput in_;
    bool dropped_ = false;

    std::mutex sendMutex_;  // one message at a time; close() waits for it
    std::mutex stateMutex_; // guards closed_
    bool closed_ = false;
};

} // namespace benchsim
