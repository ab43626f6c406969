#include "visa/timedreceive.h"

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <poll.h>
#include <sys/time.h>

namespace visa {

namespace {
// A tick of the slowest kernel clock (100 Hz) for the conversion to ticks,
// and one more for the timer's own start.
constexpr int TickAllowanceMs = 20;
// Below this the receive time-out would save a poll() on a wait too short
// to matter.
constexpr int ShortestEarlyMs = 5;
} // namespace

int TimedReceiver::earlyTimeoutMs(int waitMs)
{
    // The wheel rounds a timer up by at most one slot of its level, and a
    // level's slots are at most 8/63 of the shortest wait it holds: a wait
    // of E ends by E * (63 + 8) / 63.
    const int early = int((int64_t(waitMs) - TickAllowanceMs) * 63 / 71);
    return early >= ShortestEarlyMs ? early : 0;
}

void TimedReceiver::attach(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    blocking_ = flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
    timeoutMs_ = Unset;
}

ssize_t TimedReceiver::receive(int fd, msghdr *m, int waitMs, bool firstWait)
{
    const int early = waitMs > 0 ? earlyTimeoutMs(waitMs) : 0;
    if (blocking_ && waitMs != 0 && waitMs != timeoutMs_ && firstWait && (waitMs < 0 || early > 0)) {
        // Zero means "no time-out" to the kernel, as -1 does to poll().
        timeval tv{};
        if (waitMs > 0) {
            tv.tv_sec = early / 1000;
            tv.tv_usec = (early % 1000) * 1000;
        }
        if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0)
            timeoutMs_ = waitMs;
        else
            timeoutMs_ = Unset;
    }
    if (blocking_ && waitMs != 0 && waitMs == timeoutMs_)
        return ::recvmsg(fd, m, 0);
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, waitMs);
    if (r == 0)
        errno = EAGAIN;
    if (r <= 0)
        return -1;
    return ::recvmsg(fd, m, MSG_DONTWAIT);
}

} // namespace visa
