// Waiting for socket data and receiving it in one system call where it can
// be done: the socket is kept in blocking mode and the kernel's receive
// time-out (SO_RCVTIMEO) bounds the wait. It is set when an operation's
// first wait differs from the last one set, which for a session that keeps
// its time-out is once; later, shorter waits of the same operation poll()
// first. Everything else done on the socket passes MSG_DONTWAIT.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

namespace visa {

class TimedReceiver {
public:
    // Puts fd in blocking mode; if that fails every wait polls first.
    void attach(int fd);

    // recvmsg() after waiting at most waitMs (-1: without limit, 0: not at
    // all) for data; -1 with errno EAGAIN when none came in time. firstWait:
    // the operation's first wait, which may set the receive time-out.
    ssize_t receive(int fd, msghdr *m, int waitMs, bool firstWait);

private:
    static constexpr int kUnset = -2;
    bool blocking_ = false;
    int timeoutMs_ = kUnset; // SO_RCVTIMEO as last set; -1: none
};

} // namespace visa
