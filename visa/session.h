// The session table behind the C functions: one entry per open resource
// manager or instrument session, shared by every thread that calls VISA.
#pragma once

#include "visa/receivebuffer.h"
#include "visa/transport.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace visa {

constexpr ViUInt32 DefaultTimeoutMs = 2000;
// viReadToFile moves data to its file in pieces of this size: large enough
// that a 20 MB trace takes a few dozen writes, small enough to stay in cache
// between the receive and the write.
constexpr size_t FileBufferSize = 1024 * 1024;

struct Session {
    ViSession handle = 0;
    ViSession rm = 0; // owning resource manager; 0 for a resource manager itself
    std::atomic<ViUInt32> timeoutMs{DefaultTimeoutMs};
    std::mutex io; // serialises I/O; guards transport
    std::unique_ptr<Transport> transport; // null for a resource manager and after close
    // viReadToFile's spooling buffer, kept for the session's next transfer
    // so that none of them pays for fresh pages; guarded by io.
    std::unique_ptr<ReceiveBuffer> fileBuffer;

    // A resource manager's VI_ATTR_FIND_HOSTS; guarded by io.
    std::string findHosts;
    // A find list (viFindRsrc): the resources viFindNext has still to
    // hand out; guarded by io.
    bool isFindList = false;
    std::vector<std::string> found;
    size_t foundNext = 0;

    bool isRm() const { return rm == 0; }
};

// The session of a handle; null when it is not open.
std::shared_ptr<Session> findSession(ViSession vi);
// Enters s as a session of the resource manager s->rm and returns its
// handle; 0 when that resource manager has been closed meanwhile.
ViSession addSession(const std::shared_ptr<Session> &s);

// Holds an instrument session's I/O lock for one VISA operation, so that a
// query's write and read are not interleaved with another thread's and a
// concurrent viClose waits until the operation is over.
class InstrLock {
public:
    // status(): VI_SUCCESS, VI_ERROR_INV_OBJECT for a handle that is not
    // open, VI_ERROR_NSUP_OPER for a resource-manager session.
    explicit InstrLock(ViSession vi);
    ViStatus status() const { return status_; }
    Transport &transport() { return *session_->transport; }
    ViUInt32 timeoutMs() const { return session_->timeoutMs.load(); }
    // The session's spooling buffer of FileBufferSize bytes; null if it
    // could not be had.
    ViByte *fileBuffer();

private:
    std::shared_ptr<Session> session_;
    std::unique_lock<std::mutex> lock_;
    ViStatus status_ = VI_ERROR_INV_OBJECT;
};

} // namespace visa
