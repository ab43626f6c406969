#include "visa/timedreceive.h"

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <sys/time.h>

namespace visa {

void TimedReceiver::attach(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    blocking_ = flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
    timeoutMs_ = kUnset;
}

ssize_t TimedReceiver::receive(int fd, msghdr *m, int waitMs, bool firstWait)
{
    if (blocking_ && waitMs != 0 && waitMs != timeoutMs_ && firstWait) {
        // Zero means "no time-out" to the kernel, as -1 does to poll().
        timeval tv{};
        if (waitMs > 0) {
            tv.tv_sec = waitMs / 1000;
            tv.tv_usec = (waitMs % 1000) * 1000;
        }
        if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0)
            timeoutMs_ = waitMs;
        else
            timeoutMs_ = kUnset;
    }
    // The kernel rounds the time-out up to its clock tick: the wait ends
    // at the deadline or a few milliseconds after it, never before.
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
