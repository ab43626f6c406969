// The bench's own instrument models over VXI-11, through the VISA calls the
// application makes: identities, and every injected fault turning into the
// status the session layer relies on, with the link usable afterwards.
#include "sim/bench.h"
#include "visa/oncrpc.h"
#include "visa/visa.h"
#include "visa/vxi11proto.h"

#include <QElapsedTimer>
#include <QtTest>

#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using benchsim::Bench;
using benchsim::Fault;
using benchsim::Scenario;

namespace {

// Writes cmd and reads the reply; the status of whichever failed first.
ViStatus query(ViSession vi, const QByteArray &cmd, QByteArray *reply)
{
    ViUInt32 ret = 0;
    ViStatus st = viWrite(vi, reinterpret_cast<ViConstBuf>(cmd.constData()), ViUInt32(cmd.size()), &ret);
    if (st != VI_SUCCESS)
        return st;
    reply->resize(4096);
    st = viRead(vi, reinterpret_cast<ViBuf>(reply->data()), ViUInt32(reply->size()), &ret);
    reply->truncate(int(ret));
    return st;
}

int entriesIn(const char *dir)
{
    return QDir(QLatin1String(dir)).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
}

// The core port out of "TCPIP::127.0.0.1,<port>::instN::INSTR".
quint16 corePort(const QString &resource)
{
    return quint16(resource.section(QLatin1Char(','), 1).section(QLatin1Char(':'), 0, 0).toUInt());
}

// A VXI-11 link made of bare ONC RPC calls, for what our VISA library never
// does: reads that wait forever, and reads in odd-sized pieces.
class BareLink {
public:
    explicit BareLink(quint16 port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const timeval limit{10, 0}; // a test never waits longer for a reply
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        oncrpc::XdrWriter w;
        w.i32(1);
        w.boolean(false);
        w.u32(0);
        w.string("inst0");
        oncrpc::Bytes results;
        if (::connect(fd_, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0
            && call(vxi11::CreateLink, w.bytes(), &results)) {
            oncrpc::XdrReader r(results);
            lid_ = r.u32() == vxi11::ErrNone ? r.u32() : 0;
        }
    }
    ~BareLink() { ::close(fd_); }
    bool linked() const { return lid_ != 0; }

    bool send(uint32_t proc, const oncrpc::Bytes &args)
    {
        const oncrpc::Bytes rec = oncrpc::frameRecord(oncrpc::encodeCall(++xid_, vxi11::CoreProgram, 1, proc, args));
        return ::send(fd_, rec.data(), rec.size(), MSG_NOSIGNAL) == ssize_t(rec.size());
    }
    bool receive(oncrpc::Bytes *results)
    {
        oncrpc::Bytes record;
        for (bool last = false; !last;) {
            uint8_t mark[4];
            if (!receiveExactly(mark, 4))
                return false;
            const uint32_t word = uint32_t(mark[0]) << 24 | uint32_t(mark[1]) << 16 | uint32_t(mark[2]) << 8 | mark[3];
            last = word & oncrpc::LastFragment;
            const size_t had = record.size();
            record.resize(had + (word & ~oncrpc::LastFragment));
            if (!receiveExactly(record.data() + had, record.size() - had))
                return false;
        }
        oncrpc::XdrReader r(record);
        oncrpc::ReplyHeader h;
        if (!oncrpc::decodeReply(r, &h) || !h.success() || h.xid != xid_)
            return false;
        results->assign(r.pos(), r.pos() + r.remaining());
        return true;
    }
    bool call(uint32_t proc, const oncrpc::Bytes &args, oncrpc::Bytes *results)
    {
        return send(proc, args) && receive(results);
    }
    bool write(const QByteArray &message)
    {
        oncrpc::XdrWriter w;
        for (uint32_t v : {lid_, 1000u, 0u, vxi11::FlagEnd})
            w.u32(v);
        w.opaque(reinterpret_cast<const uint8_t *>(message.constData()), size_t(message.size()));
        oncrpc::Bytes results;
        return call(vxi11::DeviceWrite, w.bytes(), &results) && oncrpc::XdrReader(results).u32() == vxi11::ErrNone;
    }
    oncrpc::Bytes readArgs(uint32_t requestSize, uint32_t ioTimeoutMs) const
    {
        oncrpc::XdrWriter w;
        for (uint32_t v : {lid_, requestSize, ioTimeoutMs, 0u, 0u, 0u})
            w.u32(v);
        return w.take();
    }
    // One device_read: its error, reason and data.
    uint32_t read(uint32_t requestSize, uint32_t *reason, QByteArray *data)
    {
        oncrpc::Bytes results;
        if (!call(vxi11::DeviceRead, readArgs(requestSize, 2000), &results))
            return ~0u;
        oncrpc::XdrReader r(results);
        const uint32_t error = r.u32();
        *reason = r.u32();
        const oncrpc::Bytes bytes = r.opaque(1u << 30);
        *data = QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()));
        return r.ok() && r.remaining() == 0 ? error : ~0u;
    }

private:
    bool receiveExactly(uint8_t *to, size_t n)
    {
        while (n > 0) {
            const ssize_t got = ::recv(fd_, to, n, 0);
            if (got <= 0)
                return false;
            to += got;
            n -= size_t(got);
        }
        return true;
    }
    int fd_ = -1;
    uint32_t xid_ = 0;
    uint32_t lid_ = 0;
};

} // namespace

class TestVxi11Bench : public QObject {
    Q_OBJECT
private slots:
    void identities_data();
    void identities();
    void faults_data();
    void faults();
    void blockInPieces();
    void abandonedReadsEnd();
};

void TestVxi11Bench::identities_data()
{
    QTest::addColumn<QString>("instrument");
    QTest::addColumn<QByteArray>("identity");
    const Scenario s;
    QTest::newRow("sa") << "sa" << s.saIdn;
    QTest::newRow("va") << "va" << s.vaIdn;
}

void TestVxi11Bench::identities()
{
    QFETCH(QString, instrument);
    QFETCH(QByteArray, identity);
    Bench bench{Scenario()};
    QString error;
    QVERIFY2(bench.start(&error) && bench.startVxi11(&error, false), qPrintable(error));
    ViSession rm = 0, vi = 0;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    QCOMPARE(viOpen(rm, bench.vxi11Resource(instrument).toLatin1().constData(), 0, 2000, &vi), VI_SUCCESS);
    QByteArray reply;
    QCOMPARE(query(vi, "*IDN?\n", &reply), VI_SUCCESS);
    QCOMPARE(reply, identity + "\n");
    // The same model answers on both transports and logs both.
    QCOMPARE(bench.commands(instrument), QList<QByteArray>{"*IDN?"});
    QCOMPARE(viGpibControlREN(vi, VI_GPIB_REN_ADDRESS_GTL), VI_SUCCESS);
    QCOMPARE(viClose(vi), VI_SUCCESS);
    QCOMPARE(viClose(rm), VI_SUCCESS);
}

void TestVxi11Bench::faults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("maxMs");     // the failing query returns within this
    QTest::addColumn<bool>("linkLives"); // the next query is answered
    QTest::newRow("device io_timeout, at once") << "sa:DeviceIoTimeout@1:*OPC?" << int(VI_ERROR_TMO) << 1000 << true;
    QTest::newRow("device io_error, at once") << "sa:DeviceIoError@1:*OPC?" << int(VI_ERROR_IO) << 1000 << true;
    QTest::newRow("no reply: the time-out") << "sa:NoReply@1:*OPC?" << int(VI_ERROR_TMO) << 1500 << true;
    QTest::newRow("late reply never taken for the next") << "sa:Late=1500@1:*OPC?" << int(VI_ERROR_TMO) << 1500
                                                         << true;
    QTest::newRow("connection dropped") << "sa:Close@1:*OPC?" << int(VI_ERROR_CONN_LOST) << 1500 << false;
}

void TestVxi11Bench::faults()
{
    QFETCH(QString, fault);
    QFETCH(int, status);
    QFETCH(int, maxMs);
    QFETCH(bool, linkLives);
    Bench bench{Scenario()};
    Fault f;
    QString error;
    QVERIFY2(Fault::fromOption(fault, &f, &error), qPrintable(error));
    bench.addFault(f);
    QVERIFY2(bench.start(&error) && bench.startVxi11(&error, false), qPrintable(error));
    ViSession rm = 0, vi = 0;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    QCOMPARE(viOpen(rm, bench.vxi11Resource("sa").toLatin1().constData(), 0, 2000, &vi), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 500), VI_SUCCESS);

    QByteArray reply;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(int(query(vi, "INIT:CONT OFF;*OPC?\n", &reply)), status);
    QVERIFY2(clock.elapsed() < maxMs, qPrintable(QString::number(clock.elapsed())));

    // Wait past any late reply, then ask something else: its own answer comes back.
    QTest::qWait(1200);
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, 2000);
    const ViStatus next = query(vi, "*IDN?\n", &reply);
    if (linkLives) {
        QCOMPARE(next, VI_SUCCESS);
        QCOMPARE(reply, Scenario().saIdn + "\n");
    } else {
        QCOMPARE(next, VI_ERROR_CONN_LOST);
    }
    viClose(vi);
    viClose(rm);
}

// A record read whole and in odd-sized pieces: each piece goes out from
// the response itself, padded, with the reasons an instrument gives.
void TestVxi11Bench::blockInPieces()
{
    Bench bench{Scenario()};
    QString error;
    QVERIFY2(bench.start(&error) && bench.startVxi11(&error, false), qPrintable(error));
    BareLink link(corePort(bench.vxi11Resource("osc")));
    QVERIFY(link.linked());
    QVERIFY(link.write("ACQ:POIN 1000001;FORM REAL,32;*TRG\n"));
    const QByteArray expected = bench.endpoint("osc")->handle("CHAN1:DATA?").bytes;
    QCOMPARE(expected.size(), 2 + 7 + 4000004 + 1);

    QVERIFY(link.write("CHAN1:DATA?\n"));
    QByteArray whole, piece;
    uint32_t reason = 0;
    do {
        QCOMPARE(link.read(999999, &reason, &piece), uint32_t(vxi11::ErrNone));
        whole += piece;
        QCOMPARE(reason, whole.size() < expected.size() ? vxi11::ReasonReqCnt : vxi11::ReasonEnd);
    } while (whole.size() < expected.size());
    QVERIFY(whole == expected);

    QVERIFY(link.write("CHAN1:DATA?\n"));
    QCOMPARE(link.read(0x7fffffff, &reason, &piece), uint32_t(vxi11::ErrNone));
    QCOMPARE(reason, vxi11::ReasonEnd);
    QVERIFY(piece == expected);
}

// A device_read with an io_timeout of 2^32-1 ms whose client hangs up once
// kept its thread and socket for a day.
void TestVxi11Bench::abandonedReadsEnd()
{
    Bench bench{Scenario()};
    QString error;
    QVERIFY2(bench.start(&error) && bench.startVxi11(&error, false), qPrintable(error));
    const quint16 port = corePort(bench.vxi11Resource("osc"));
    const int threads = entriesIn("/proc/self/task");
    const int fds = entriesIn("/proc/self/fd");
    std::vector<std::unique_ptr<BareLink>> links;
    for (int i = 0; i < 20; ++i) {
        links.push_back(std::make_unique<BareLink>(port));
        QVERIFY(links.back()->linked());
        QVERIFY(links.back()->send(vxi11::DeviceRead, links.back()->readArgs(100, 0xFFFFFFFFu)));
    }
    QVERIFY(entriesIn("/proc/self/task") >= threads + 20);
    QTest::qWait(500); // every read is waiting now
    links.clear();
    QTRY_COMPARE_WITH_TIMEOUT(entriesIn("/proc/self/task"), threads, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(entriesIn("/proc/self/fd"), fds, 5000);
    // The server takes the next client as before.
    BareLink next(port);
    QVERIFY(next.linked());
    QVERIFY(next.write("*IDN?\n"));
    uint32_t reason = 0;
    QByteArray reply;
    QCOMPARE(next.read(1000, &reason, &reply), uint32_t(vxi11::ErrNone));
    QVERIFY(reply.startsWith("Orvix,"));
}

QTEST_GUILESS_MAIN(TestVxi11Bench)
#include "tst_vxi11bench.moc"
