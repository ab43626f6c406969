// Times the simulator as a server, with clients that cost next to nothing:
// a plain recv loop into one preallocated buffer on the raw socket, and
// hand-made ONC RPC calls on VXI-11. Prints medians of:
//   - "*OPC?" round trips (raw socket, VXI-11);
//   - 20 MB "CHAN1:DATA?" blocks (5 M points, REAL,32) on both transports;
//   - the set-up of one acquisition at 5 M and 10 M points: "*TRG" alone,
//     and with the first reads of channels 1 to 3, which make the samples.
//
// Usage: sim_throughput [iterations]   (default 30)
#include "sim/bench.h"
#include "visa/oncrpc.h"
#include "visa/vxi11proto.h"

#include <QByteArray>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int connectTo(quint16 port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        perror("connect");
        exit(1);
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

void sendText(int fd, const char *text)
{
    const size_t n = strlen(text);
    if (send(fd, text, n, MSG_NOSIGNAL) != ssize_t(n)) {
        perror("send");
        exit(1);
    }
}

// Receives exactly n bytes into buf.
void recvExactly(int fd, char *buf, size_t n)
{
    size_t got = 0;
    while (got < n) {
        const ssize_t r = recv(fd, buf + got, n - got, 0);
        if (r <= 0) {
            fprintf(stderr, "connection lost\n");
            exit(1);
        }
        got += size_t(r);
    }
}

// A whole raw-socket reply: a definite-length block plus its line feed, or a line.
size_t recvReply(int fd, std::vector<char> &buf)
{
    size_t got = 0;
    for (;;) {
        const ssize_t r = recv(fd, buf.data() + got, buf.size() - got, 0);
        if (r <= 0) {
            fprintf(stderr, "connection lost\n");
            exit(1);
        }
        got += size_t(r);
        if (buf[0] == '#' && got >= 2) {
            const size_t digits = size_t(buf[1] - '0');
            if (got < 2 + digits)
                continue;
            const size_t count = size_t(atoll(std::string(buf.data() + 2, digits).c_str()));
            if (got >= 2 + digits + count + 1)
                return got;
        } else if (buf[got - 1] == '\n') {
            return got;
        }
    }
}

class RawVxi11 {
public:
    explicit RawVxi11(quint16 port) : fd_(connectTo(port))
    {
        oncrpc::XdrWriter w;
        w.i32(1);
        w.boolean(false);
        w.u32(0);
        w.string("inst0");
        oncrpc::XdrReader r = call(vxi11::CreateLink, w.bytes());
        r.u32();
        lid_ = r.u32();
    }
    ~RawVxi11() { ::close(fd_); }

    void write(const char *text)
    {
        oncrpc::XdrWriter w;
        w.u32(lid_);
        w.u32(10000);
        w.u32(0);
        w.u32(vxi11::FlagEnd);
        w.opaque(reinterpret_cast<const uint8_t *>(text), strlen(text));
        call(vxi11::DeviceWrite, w.bytes());
    }
    // Reads one whole response with requests as large as the protocol allows; its size.
    size_t read()
    {
        size_t total = 0;
        for (;;) {
            oncrpc::XdrWriter w;
            w.u32(lid_);
            w.u32(0x7fffffff);
            w.u32(10000);
            w.u32(0);
            w.u32(0);
            w.u32(0);
            oncrpc::XdrReader r = call(vxi11::DeviceRead, w.bytes());
            const uint32_t error = r.u32();
            const uint32_t reason = r.u32();
            const uint32_t len = r.u32();
            if (error) {
                fprintf(stderr, "device_read error %u\n", error);
                exit(1);
            }
            total += len;
            if (reason & vxi11::ReasonEnd)
                return total;
        }
    }

private:
    // Sends a call and receives its reply record into buf_ (fragments joined in place).
    oncrpc::XdrReader call(uint32_t proc, const oncrpc::Bytes &args)
    {
        const oncrpc::Bytes rec = oncrpc::frameRecord(oncrpc::encodeCall(++xid_, vxi11::CoreProgram, 1, proc, args));
        if (send(fd_, rec.data(), rec.size(), MSG_NOSIGNAL) != ssize_t(rec.size())) {
            perror("send");
            exit(1);
        }
        size_t size = 0;
        for (bool last = false; !last;) {
            uint8_t head[4];
            recvExactly(fd_, reinterpret_cast<char *>(head), 4);
            const uint32_t word = uint32_t(head[0]) << 24 | uint32_t(head[1]) << 16 | uint32_t(head[2]) << 8 | head[3];
            last = word & oncrpc::LastFragment;
            const size_t len = word & ~oncrpc::LastFragment;
            if (buf_.size() < size + len)
                buf_.resize(size + len);
            recvExactly(fd_, reinterpret_cast<char *>(buf_.data()) + size, len);
            size += len;
        }
        oncrpc::XdrReader r(buf_.data(), size);
        oncrpc::ReplyHeader h;
        if (!oncrpc::decodeReply(r, &h) || !h.success() || h.xid != xid_) {
            fprintf(stderr, "bad reply to procedure %u\n", proc);
            exit(1);
        }
        return r;
    }

    int fd_;
    uint32_t xid_ = 0;
    uint32_t lid_ = 0;
    std::vector<uint8_t> buf_;
};

} // namespace

int main(int argc, char **argv)
{
    const int iterations = argc > 1 ? std::max(1, atoi(argv[1])) : 30;
    benchsim::Scenario scenario;
    benchsim::Bench bench(scenario);
    QString error;
    if (!bench.start(&error) || !bench.startVxi11(&error, false)) {
        fprintf(stderr, "bench: %s\n", qPrintable(error));
        return 1;
    }
    const QString vxiResource = bench.vxi11Resource(QStringLiteral("osc"));
    const quint16 corePort = quint16(vxiResource.section(QLatin1Char(','), 1).section(QLatin1Char(':'), 0, 0).toUInt());

    // Acquisition set-up, in process: the time the instrument is held by
    // "*TRG", and by it with the first reads of the three channels, which
    // make the records' samples.
    benchsim::Endpoint *osc = bench.endpoint(QStringLiteral("osc"));
    osc->handle("CHAN2 ON;CHAN3 ON;FORM REAL,32");
    for (int points : {5000000, 10000000}) {
        osc->handle("ACQ:POIN " + QByteArray::number(points));
        std::vector<double> trigger, withReads;
        for (int i = 0; i < std::min(iterations, 10); ++i) {
            const auto t0 = Clock::now();
            osc->handle("*TRG");
            const auto t1 = Clock::now();
            for (const char *read : {"CHAN1:DATA?", "CHAN2:DATA?", "CHAN3:DATA?"})
                osc->handle(read);
            trigger.push_back(seconds(t1 - t0) * 1e3);
            withReads.push_back(seconds(Clock::now() - t0) * 1e3);
        }
        printf("*TRG at %8d points            median %8.3f ms\n", points, median(trigger));
        printf("  with the first 3 channel reads   median %8.1f ms\n", median(withReads));
    }
    osc->handle("ACQ:POIN 5000000;FORM REAL,32;*TRG");

    std::vector<char> buf(64 << 20);
    const int fd = connectTo(bench.port(QStringLiteral("osc")));
    std::vector<double> opc, block;
    for (int i = 0; i < iterations * 20; ++i) {
        const auto t0 = Clock::now();
        sendText(fd, "*OPC?\n");
        recvReply(fd, buf);
        opc.push_back(seconds(Clock::now() - t0) * 1e6);
    }
    size_t size = 0;
    for (int i = 0; i < iterations; ++i) {
        const auto t0 = Clock::now();
        sendText(fd, "CHAN1:DATA?\n");
        size = recvReply(fd, buf);
        block.push_back(seconds(Clock::now() - t0));
    }
    ::close(fd);
    printf("SOCKET *OPC? round trip            median %8.1f us\n", median(opc));
    printf("SOCKET %zu-byte block              median %8.2f ms  %6.2f GB/s\n", size, median(block) * 1e3,
           size / median(block) / 1e9);

    RawVxi11 vxi(corePort);
    opc.clear();
    block.clear();
    for (int i = 0; i < iterations * 20; ++i) {
        const auto t0 = Clock::now();
        vxi.write("*OPC?\n");
        vxi.read();
        opc.push_back(seconds(Clock::now() - t0) * 1e6);
    }
    for (int i = 0; i < iterations; ++i) {
        const auto t0 = Clock::now();
        vxi.write("CHAN1:DATA?\n");
        size = vxi.read();
        block.push_back(seconds(Clock::now() - t0));
    }
    printf("VXI-11 *OPC? round trip            median %8.1f us\n", median(opc));
    printf("VXI-11 %zu-byte block              median %8.2f ms  %6.2f GB/s\n", size, median(block) * 1e3,
           size / median(block) / 1e9);
    return 0;
}
