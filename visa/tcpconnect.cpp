#include "visa/tcpconnect.h"

#include "visa/deadline.h"

#include <condition_variable>
#include <cerrno>
#include <memory>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace visa {

namespace {

struct AddrInfoDeleter {
    void operator()(addrinfo *ai) const { freeaddrinfo(ai); }
};
using AddrList = std::unique_ptr<addrinfo, AddrInfoDeleter>;

addrinfo hints(int flags)
{
    addrinfo h{};
    h.ai_family = AF_UNSPEC;
    h.ai_socktype = SOCK_STREAM;
    h.ai_flags = flags;
    return h;
}

// getaddrinfo() has no time-out of its own (a dead DNS server blocks it for
// many seconds), so a name is looked up on a helper thread that we stop
// waiting for at the deadline; the thread frees the result if we left.
AddrList resolve(const std::string &host, const std::string &port, const Deadline &deadline)
{
    const addrinfo numeric = hints(AI_NUMERICHOST | AI_NUMERICSERV);
    addrinfo *res = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &numeric, &res) == 0)
        return AddrList(res);

    struct Lookup {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool abandoned = false;
        addrinfo *result = nullptr;
    };
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host, port] {
        const addrinfo h = hints(AI_NUMERICSERV);
        addrinfo *r = nullptr;
        if (getaddrinfo(host.c_str(), port.c_str(), &h, &r) != 0)
            r = nullptr;
        std::lock_guard<std::mutex> guard(lookup->mutex);
        if (lookup->abandoned) {
            if (r)
                freeaddrinfo(r);
            return;
        }
        lookup->result = r;
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();

    std::unique_lock<std::mutex> guard(lookup->mutex);
    const auto ready = [&] { return lookup->finished; };
    if (deadline.infinite())
        lookup->done.wait(guard, ready);
    else
        lookup->done.wait_for(guard, std::chrono::milliseconds(deadline.remainingMs()), ready);
    if (!lookup->finished) {
        lookup->abandoned = true;
        return nullptr;
    }
    return AddrList(lookup->result);
}

// Non-blocking connect, waited for with poll() until the deadline. On
// failure *err says why (ETIMEDOUT when the deadline passed).
int connectOne(const addrinfo *ai, const Deadline &deadline, int *err)
{
    const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    *err = errno;
    if (fd < 0)
        return -1;
    int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
    *err = rc == 0 ? 0 : errno;
    if (rc != 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        do {
            rc = ::poll(&p, 1, deadline.pollMs());
        } while (rc < 0 && errno == EINTR);
        socklen_t len = sizeof *err;
        *err = ETIMEDOUT;
        if (rc == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, err, &len) == 0 && *err == 0)
            rc = 0;
        else
            rc = -1;
    }
    if (rc != 0) {
        ::close(fd);
        return -1;
    }
    // Instruments exchange short commands and replies: send them at once.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

} // namespace

int tcpConnect(const std::string &host, uint16_t port, ViUInt32 timeoutMs, ViStatus *status)
{
    *status = VI_ERROR_RSRC_NFOUND;
    const Deadline deadline(timeoutMs);
    const AddrList addrs = resolve(host, std::to_string(port), deadline);
    for (const addrinfo *ai = addrs.get(); ai; ai = ai->ai_next) {
        if (ai != addrs.get() && deadline.expired())
            break;
        int err = 0;
        const int fd = connectOne(ai, deadline, &err);
        if (fd >= 0) {
            *status = VI_SUCCESS;
            return fd;
        }
        // The host is there and said no, or never answered: the caller can
        // tell the operator which, rather than "not found".
        if (err == ECONNREFUSED)
            *status = VI_ERROR_MACHINE_NAVAIL;
        else if (err == ETIMEDOUT && *status == VI_ERROR_RSRC_NFOUND)
            *status = VI_ERROR_TMO;
    }
    return -1;
}

} // namespace visa
