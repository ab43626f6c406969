// The simulator's VXI-11 server as a client reaches it: records from the
// input go to its core channel (and abort channel) over loopback, through
// record assembly into the call dispatcher and the links behind it. A
// fresh server per input, so link ids start at 1 and a read left waiting
// by the input ends when the server stops.
//
// Input: records, each 1 control byte, 2 bytes length, the message.
// Control bit 0: raw bytes without a record mark; bit 1: a fragment that is
// not the record's last; bit 2: to the abort channel instead.
#include "fuzz/fuzzcheck.h"
#include "sim/endpoint.h"
#include "sim/vxi11server.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#ifndef IP_BIND_ADDRESS_NO_PORT
#define IP_BIND_ADDRESS_NO_PORT 24 // linux/in.h; glibc does not name it
#endif
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using benchsim::Endpoint;
using benchsim::Response;
using benchsim::Vxi11Server;

namespace {

// Answers every message at once with a bounded echo; "!" fails it with a
// device error, "~" gives no reply. The instrument models are not the
// subject here.
class EchoEndpoint : public Endpoint {
public:
    QString name() const override { return QStringLiteral("osc"); }
    Response handle(const QByteArray &message) override
    {
        Response r;
        if (message.startsWith('!')) {
            r.action = Response::Action::DeviceError;
            r.deviceError = 17;
        } else if (!message.startsWith('~')) {
            r.action = Response::Action::Reply;
            r.bytes = message.left(64) + '\n';
        }
        return r;
    }
};

// From 127.0.0.2, with the port picked at connect: the TIME_WAIT each
// connection leaves then never holds a port a new server on 127.0.0.1
// wants, however many inputs run in a minute.
int connectTo(uint16_t port)
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

// Sends everything while reading the replies, so neither side fills up and
// waits for the other; then reads until the server closes, or stays quiet
// long enough that it must be waiting in a device_read for its io_timeout.
void converse(int fd, const std::vector<uint8_t> &bytes)
{
    size_t sent = 0;
    bool open = true;
    uint8_t buf[65536];
    for (;;) {
        if (open && sent == bytes.size()) {
            ::shutdown(fd, SHUT_WR);
            open = false;
        }
        pollfd p{fd, short(POLLIN | (open ? POLLOUT : 0)), 0};
        const int n = ::poll(&p, 1, open ? 5000 : 5);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        if (p.revents & POLLIN) {
            const ssize_t r = ::recv(fd, buf, sizeof buf, 0);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                return;
        } else if (p.revents & POLLOUT) {
            const ssize_t k = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (k < 0 && errno != EAGAIN && errno != EINTR)
                return; // the server dropped the connection, as it may
            sent += k > 0 ? size_t(k) : 0;
        } else {
            return;
        }
    }
}

EchoEndpoint inst0, inst1;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> core, abortChannel;
    while (size >= 3) {
        const uint8_t ctl = data[0];
        const size_t len = std::min<size_t>(size_t(data[1]) << 8 | data[2], size - 3);
        std::vector<uint8_t> &to = (ctl & 4) ? abortChannel : core;
        if (!(ctl & 1)) {
            const uint32_t mark = ((ctl & 2) ? 0 : 0x80000000u) | uint32_t(len);
            const uint8_t m[4] = {uint8_t(mark >> 24), uint8_t(mark >> 16), uint8_t(mark >> 8), uint8_t(mark)};
            to.insert(to.end(), m, m + 4);
        }
        to.insert(to.end(), data + 3, data + 3 + len);
        data += 3 + len;
        size -= 3 + len;
    }

    Vxi11Server::Options options;
    options.portmapper = false;
    options.maxRecvSize = 4096; // small, so long writes hit the limit
    Vxi11Server server({{QStringLiteral("127.0.0.1"), &inst0}, {QStringLiteral("127.0.0.1"), &inst1}}, options);
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "server did not start: %s\n", qPrintable(error));
        std::abort();
    }
    const int coreFd = connectTo(server.corePort());
    const int abortFd = abortChannel.empty() ? -1 : connectTo(server.abortPort());
    // The core channel first: an abort then finds a device_read the input
    // left waiting.
    converse(coreFd, core);
    if (abortFd >= 0)
        converse(abortFd, abortChannel);
    if (abortFd >= 0)
        ::close(abortFd);
    ::close(coreFd);
    server.stop();
    // Every link ends with the connection that made it.
    FUZZ_CHECK(server.linkCount() == 0);
    return 0;
}
