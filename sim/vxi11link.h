// One VXI-11 link to a simulated instrument: collects program messages from
// device_write, hands each complete one to the instrument, and serves its
// response to device_read in pieces of at most the requested size.
#pragma once

#include "sim/endpoint.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace benchsim {

// Shared by all links of a server: a waiting device_read wakes on it when
// the server stops or an abort arrives for its link.
struct LinkWaker {
    std::mutex mutex;
    std::condition_variable cv;
    bool stopping = false;
};

class Vxi11Link {
public:
    Vxi11Link(Endpoint *endpoint, LinkWaker *waker) : endpoint_(endpoint), waker_(waker) {}

    struct WriteResult {
        uint32_t error = 0;
        uint32_t size = 0;       // bytes taken
        bool close = false;      // the instrument drops the connection after this write
        int closeDelayMs = 0;
    };
    // A program message ends with the END flag, or with a line feed as the
    // last byte of a write (the lxi CLI sends no line feed, some clients no
    // END), or once MaxProgramMessage bytes have piled up without either.
    WriteResult write(const uint8_t *data, size_t len, bool end);

    struct ReadResult {
        uint32_t error = 0;
        uint32_t reason = 0;
        // The bytes read. A piece of the response points into it instead of
        // copying it; owner keeps it alive, so data is valid while the
        // result is.
        QByteArray data;
        QByteArray owner;
        // The server is going down or the client hung up: answer nothing.
        bool dropConnection = false;
    };
    // Blocks until the response is ready, ioTimeoutMs passes (io_timeout),
    // an abort arrives, the server stops or, when peerFd is given, the
    // client on that socket hangs up.
    ReadResult read(uint32_t requestSize, uint32_t ioTimeoutMs, bool termCharSet, uint8_t termChar,
                    int peerFd = -1);

    struct ControlResult {
        uint32_t error = 0;
        bool close = false; // the instrument drops the connection instead of answering
    };
    // device_local (local) or device_remote: the instrument logs it as
    // GoToLocalCommand or GoToRemoteCommand, and a fault injected on that
    // text fails the call. A message being written or read is left alone.
    ControlResult remoteLocal(bool local);

    // device_clear: forgets a partial message and any pending response.
    void clear();

    // device_abort from the abort channel (any thread).
    void abort();

private:
    Endpoint *endpoint_;
    LinkWaker *waker_;
    QByteArray input_;
    // The response being read out; a new program message discards what is
    // left of it, as an instrument clears its output queue.
    QByteArray output_;
    int outputPos_ = 0;
    bool hasOutput_ = false;
    std::chrono::steady_clock::time_point readyAt_;
    uint32_t pendingError_ = 0;
    bool aborted_ = false; // guarded by waker_->mutex
};

} // namespace benchsim
