#include "fuzz/loopbackclient.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <arpa/inet.h>
#include <netinet/in.h>
#ifndef IP_BIND_ADDRESS_NO_PORT
#define IP_BIND_ADDRESS_NO_PORT 24 // linux/in.h; glibc does not name it
#endif
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

int connectFromSecondLoopback(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one) != 0
        || ::bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0) {
        std::perror("client socket");
        std::abort();
    }
    if (::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        // libFuzzer's time-out alarm interrupts a blocking connect, which
        // then goes on by itself: wait for its outcome.
        int err = errno;
        if (err == EINTR) {
            pollfd p{fd, POLLOUT, 0};
            while (::poll(&p, 1, 5000) < 0 && errno == EINTR) {
            }
            socklen_t len = sizeof err;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        }
        if (err != 0) {
            errno = err;
            std::perror("connect to the server under test");
            std::abort();
        }
    }
    return fd;
}
