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
#include "fuzz/loopbackclient.h"
#include "sim/endpoint.h"
#include "sim/vxi11server.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

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
    const int coreFd = connectFromSecondLoopback(server.corePort());
    const int abortFd = abortChannel.empty() ? -1 : connectFromSecondLoopback(server.abortPort());
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
