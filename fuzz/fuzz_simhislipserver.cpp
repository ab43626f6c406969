// The simulator's HiSLIP server as a client reaches it: messages from the
// input go to a session's synchronous and asynchronous channels over
// loopback, through the message reader into both channels' handling, the
// device clear and the instrument behind it. A fresh server per input, so
// the first session id is 1.
//
// Input: records, each 1 control byte, 2 bytes length, the bytes. Control
// bit 0: to the asynchronous channel (connected at its first record)
// instead of the synchronous one. Bit 1: a message: the bytes are type,
// control code, 4 parameter bytes and the payload, and the header gets the
// payload's length; otherwise the bytes go out raw. Before a record goes
// to the other channel, the server has been quiet for a moment, so the
// input's order holds across the two connections.
#include "fuzz/fuzzcheck.h"
#include "fuzz/loopbackclient.h"
#include "sim/endpoint.h"
#include "sim/hislipserver.h"
#include "visa/hislipproto.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using benchsim::Endpoint;
using benchsim::HislipServer;
using benchsim::Response;

namespace {

// Answers at once with a bounded echo, long enough to be split into
// several messages; "!" fails with an I/O device error, "?" with a
// time-out one, "~" gives no reply, "^" closes. The instrument models are
// not the subject here.
class EchoEndpoint : public Endpoint {
public:
    QString name() const override { return QStringLiteral("osc"); }
    Response handle(const QByteArray &message) override
    {
        Response r;
        if (message.startsWith('!') || message.startsWith('?')) {
            r.action = Response::Action::DeviceError;
            r.deviceError = message.startsWith('!') ? 17 : 15;
        } else if (message.startsWith('^')) {
            r.action = Response::Action::Close;
        } else if (!message.startsWith('~')) {
            r.action = Response::Action::Reply;
            r.bytes = message.left(64).repeated(8) + '\n';
        }
        return r;
    }
};

struct Record {
    bool async = false;
    std::vector<uint8_t> bytes;
};

// Reads and drops whatever the server sends on the open descriptors until
// it has been quiet for quietMs; a descriptor the server closed becomes -1
// (and is closed).
void drain(int *fds, int count, int quietMs)
{
    uint8_t buf[65536];
    for (;;) {
        pollfd p[2];
        bool open = false;
        for (int i = 0; i < count; ++i) {
            p[i] = {fds[i], POLLIN, 0};
            open = open || fds[i] >= 0;
        }
        if (!open)
            return;
        const int n = ::poll(p, nfds_t(count), quietMs);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        for (int i = 0; i < count; ++i) {
            if (fds[i] < 0 || !p[i].revents)
                continue;
            const ssize_t r = ::recv(fds[i], buf, sizeof buf, MSG_DONTWAIT);
            if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR)) {
                ::close(fds[i]);
                fds[i] = -1;
            }
        }
    }
}

// Sends bytes on fds[to] while reading both channels, so neither side
// fills up and waits for the other. Gives up when the server closed the
// channel or took nothing for 5 s.
void sendAll(int *fds, int to, const std::vector<uint8_t> &bytes)
{
    uint8_t buf[65536];
    size_t sent = 0;
    while (sent < bytes.size() && fds[to] >= 0) {
        pollfd p[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
        p[to].events |= POLLOUT;
        const int n = ::poll(p, 2, 5000);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        for (int i = 0; i < 2; ++i) {
            if (fds[i] >= 0 && (p[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                const ssize_t r = ::recv(fds[i], buf, sizeof buf, MSG_DONTWAIT);
                if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR)) {
                    ::close(fds[i]);
                    fds[i] = -1;
                }
            }
        }
        if (fds[to] >= 0 && (p[to].revents & POLLOUT)) {
            const ssize_t k = ::send(fds[to], bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (k < 0 && errno != EAGAIN && errno != EINTR)
                return; // the server dropped the connection, as it may
            sent += k > 0 ? size_t(k) : 0;
        }
    }
}

// Each record goes out as it comes, as a HiSLIP client sends its messages:
// Nagle would hold a record back until the server acknowledged the last.
int connectChannel(uint16_t port)
{
    const int fd = connectFromSecondLoopback(port);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

std::vector<Record> parse(const uint8_t *data, size_t size)
{
    std::vector<Record> records;
    while (size >= 3) {
        const uint8_t ctl = data[0];
        const size_t len = std::min<size_t>(size_t(data[1]) << 8 | data[2], size - 3);
        const uint8_t *bytes = data + 3;
        Record r;
        r.async = ctl & 1;
        if ((ctl & 2) && len >= 6) {
            const uint32_t param = uint32_t(bytes[2]) << 24 | uint32_t(bytes[3]) << 16 | uint32_t(bytes[4]) << 8 | bytes[5];
            r.bytes = hislip::encodeMessage(bytes[0], bytes[1], param, bytes + 6, len - 6);
        } else {
            r.bytes.assign(bytes, bytes + len);
        }
        records.push_back(std::move(r));
        data += 3 + len;
        size -= 3 + len;
    }
    return records;
}

EchoEndpoint inst0, inst1;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::vector<Record> records = parse(data, size);
    HislipServer::Options options;
    options.maxMessageSize = 4096; // small, so long messages hit the limit
    HislipServer server({&inst0, &inst1}, options);
    QString error;
    if (!server.start(0, &error)) {
        std::fprintf(stderr, "server did not start: %s\n", qPrintable(error));
        std::abort();
    }
    int fds[2] = {connectChannel(server.port()), -1};
    bool asyncOpened = false;
    bool lastAsync = false;
    for (const Record &r : records) {
        if (r.async != lastAsync)
            drain(fds, 2, 5);
        lastAsync = r.async;
        if (r.async && !asyncOpened) {
            fds[1] = connectChannel(server.port());
            asyncOpened = true;
        }
        sendAll(fds, r.async ? 1 : 0, r.bytes);
    }
    // The last records answered first, then the asynchronous channel ends
    // before the synchronous one, which ends the session.
    drain(fds, 2, 5);
    for (int i : {1, 0}) {
        if (fds[i] >= 0)
            ::shutdown(fds[i], SHUT_WR);
        drain(fds, 2, 5);
    }
    for (int fd : fds) {
        if (fd >= 0)
            ::close(fd);
    }
    server.stop();
    // Every session ends with its channels.
    FUZZ_CHECK(server.sessionCount() == 0);
    return 0;
}
