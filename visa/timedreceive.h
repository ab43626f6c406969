// Waiting for socket data and receiving it in one system call where it can
// be done: the socket is kept in blocking mode and the kernel's receive
// time-out (SO_RCVTIMEO) bounds the wait. It is set when an operation's
// first wait differs from the last one set, which for a session that keeps
// its time-out is once; later, shorter waits of the same operation poll()
// first. Everything else done on the socket passes MSG_DONTWAIT.
//
// The receive time-out runs on the kernel's timer wheel, which ends a long
// wait up to an eighth of its length late (a 3 s wait on a 250 Hz kernel
// ends anywhere up to 256 ms late); poll() has a high-resolution timer. So
// the receive time-out is set to end before the wait it stands for, and a
// receive that it ends reports EAGAIN early: the caller, which loops until
// its deadline, polls for what is left.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

namespace visa {

class TimedReceiver {
public:
    // Puts fd in blocking mode; if that fails every wait polls first.
    void attach(int fd);

    // recvmsg() after waiting at most waitMs (-1: without limit, 0: not at
    // all) for data; -1 with errno EAGAIN when none came in time, possibly
    // before waitMs has passed. firstWait: the operation's first wait, which
    // may set the receive time-out.
    ssize_t receive(int fd, msghdr *m, int waitMs, bool firstWait);

    // The receive time-out that stands for a wait of waitMs (> 0): late by
    // the timer wheel's rounding and a tick of a 100 Hz kernel, it still ends
    // by waitMs. 0 where a wait is too short for it (poll instead).
    static int earlyTimeoutMs(int waitMs);

private:
    static constexpr int Unset = -2;
    bool blocking_ = false;
    int timeoutMs_ = Unset; // the wait SO_RCVTIMEO was last set for; -1: none
};

} // namespace visa
