// Our VXI-11 client against our VXI-11 server ("host,port" resources on
// loopback, no portmapper) and against a scripted core channel for the
// replies the simulator never gives.
#include "fakecore.h"
#include "hostilecore.h"
#include "scriptendpoint.h"
#include "tests/visa/peakmemory.h"

#include "sim/vxi11link.h"
#include "sim/vxi11server.h"
#include "visa/resource.h"
#include "visa/rpcsocket.h"
#include "visa/transport.h"
#include "visa/visa.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using benchsim::Vxi11Server;

namespace {

std::unique_ptr<visa::Transport> openInstr(const QString &rsrc, ViStatus *status, ViUInt32 timeoutMs = 2000)
{
    visa::Resource r;
    if (!visa::parseResource(rsrc.toStdString(), &r)) {
        *status = VI_ERROR_INV_RSRC_NAME;
        return nullptr;
    }
    return visa::openVxi11Transport(r, timeoutMs, status);
}

ViStatus send(visa::Transport &t, const QByteArray &msg, ViUInt32 timeoutMs = 2000)
{
    ViUInt32 ret = 0;
    ViStatus st = t.write(reinterpret_cast<const ViByte *>(msg.constData()), ViUInt32(msg.size()), &ret, timeoutMs);
    return st == VI_SUCCESS && ret != ViUInt32(msg.size()) ? VI_ERROR_IO : st;
}

QByteArray receive(visa::Transport &t, ViUInt32 count, ViStatus *status, ViUInt32 timeoutMs = 2000)
{
    QByteArray buf(int(count), '\0');
    ViUInt32 ret = 0;
    *status = t.read(reinterpret_cast<ViByte *>(buf.data()), count, &ret, timeoutMs);
    buf.truncate(int(ret));
    return buf;
}

// One step of a read-ahead script: a viRead of count bytes with the status
// and bytes it must give, or (count 0) a write of a new command or a device
// clear.
struct ReadStep {
    ViUInt32 count = 0;
    ViStatus status = VI_SUCCESS;
    QByteArray data;
    bool clear = false;
};
using ReadSteps = QVector<ReadStep>;
using FakeReads = QVector<FakeRead>;

ReadStep readStep(ViUInt32 count, ViStatus status, const QByteArray &data) { return {count, status, data}; }
ReadStep writeStep() { return {}; }
ReadStep clearStep() { return {0, VI_SUCCESS, {}, true}; }

} // namespace

Q_DECLARE_METATYPE(ReadSteps)
Q_DECLARE_METATYPE(FakeReads)

class TestVxi11Client : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void exchangeStatuses_data();
    void exchangeStatuses();
    void restOfReplyStaysForNextRead();
    void deviceErrorLeavesLinkUsable();
    void writeSplitAtMaxRecvSize_data();
    void writeSplitAtMaxRecvSize();
    void unendedMessageBounded();
    void connectionLostMidRead_data();
    void connectionLostMidRead();
    void instrumentByAddressAndName_data();
    void instrumentByAddressAndName();
    void linksFreedWithConnection();
    void visaCallsOverVxi11();
    void abortEndsAWaitingRead();

    void readStatusMapping_data();
    void readStatusMapping();
    void shortChunksAndRefusedProcedure();
    void readAheadKeepsStatusesExact_data();
    void readAheadKeepsStatusesExact();
    void blockPathInOneRoundTrip();
    void staleReplyAfterTimeoutDiscarded();
    void slowPiecesBoundedByTimeout_data();
    void slowPiecesBoundedByTimeout();
    void openTimeoutBoundsCreateLink();
    void hostileCoreBoundedByTimeout_data();
    void hostileCoreBoundedByTimeout();
    void unansweredReadEndsAtItsBound_data();
    void unansweredReadEndsAtItsBound();
    void hugeStaleRepliesCostNoMemory();

private:
    std::unique_ptr<ScriptEndpoint> osc_;
    std::unique_ptr<Vxi11Server> server_;
    QString startServer(quint32 maxRecvSize = 1u << 20);
};

QString TestVxi11Client::startServer(quint32 maxRecvSize)
{
    Vxi11Server::Options opt;
    opt.portmapper = false;
    opt.maxRecvSize = maxRecvSize;
    server_ = std::make_unique<Vxi11Server>(QVector<Vxi11Server::Device>{{"127.0.0.1", osc_.get()}}, opt);
    QString error;
    if (!server_->start(&error))
        qFatal("VXI-11 server: %s", qPrintable(error));
    return server_->resource(0);
}

void TestVxi11Client::init()
{
    osc_ = std::make_unique<ScriptEndpoint>("SIM,OSC,1,1.0");
}

void TestVxi11Client::cleanup()
{
    server_.reset();
    osc_.reset();
}

void TestVxi11Client::exchangeStatuses_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<uint>("count");
    QTest::addColumn<uint>("timeoutMs");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("read to END") << QByteArray("*IDN?\n") << 100u << 2000u << int(VI_SUCCESS)
                                 << QByteArray("SIM,OSC,1,1.0\n");
    QTest::newRow("count reached first") << QByteArray("*IDN?\n") << 2u << 2000u << int(VI_SUCCESS_MAX_CNT)
                                         << QByteArray("SI");
    QTest::newRow("count equals length: END wins") << QByteArray("FIXED? 8\n") << 8u << 2000u << int(VI_SUCCESS)
                                                   << QByteArray(8, 'x');
    QTest::newRow("nothing to read") << QByteArray("SILENT?\n") << 100u << 300u << int(VI_ERROR_TMO)
                                     << QByteArray();
    QTest::newRow("reply later than time-out") << QByteArray("LATE? 1500\n") << 100u << 300u << int(VI_ERROR_TMO)
                                              << QByteArray();
    QTest::newRow("reply late within time-out") << QByteArray("LATE? 200\n") << 100u << 2000u << int(VI_SUCCESS)
                                               << QByteArray("late\n");
    QTest::newRow("device io_timeout") << QByteArray("TMOERR?\n") << 100u << 5000u << int(VI_ERROR_TMO)
                                       << QByteArray();
    QTest::newRow("device io_error") << QByteArray("IOERR?\n") << 100u << 5000u << int(VI_ERROR_IO) << QByteArray();
    QTest::newRow("command without LF (END only)") << QByteArray("*IDN?") << 100u << 2000u << int(VI_SUCCESS)
                                                   << QByteArray("SIM,OSC,1,1.0\n");
}

void TestVxi11Client::exchangeStatuses()
{
    QFETCH(QByteArray, command);
    QFETCH(uint, count);
    QFETCH(uint, timeoutMs);
    QFETCH(int, status);
    QFETCH(QByteArray, reply);

    ViStatus st;
    auto t = openInstr(startServer(), &st);
    QCOMPARE(st, VI_SUCCESS);
    QCOMPARE(send(*t, command), VI_SUCCESS);
    QElapsedTimer clock;
    clock.start();
    const QByteArray got = receive(*t, count, &st, timeoutMs);
    QCOMPARE(int(st), status);
    QCOMPARE(got, reply);
    // Errors injected as device errors come at once; real time-outs at the time-out.
    QVERIFY2(clock.elapsed() < timeoutMs + 1500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(t->close(), VI_SUCCESS);
}

void TestVxi11Client::restOfReplyStaysForNextRead()
{
    ViStatus st;
    auto t = openInstr(startServer(), &st);
    // 20 bytes read 10 at a time: the reply is an exact multiple of the
    // piece size and the second piece must still carry END.
    QCOMPARE(send(*t, "FIXED? 20\n"), VI_SUCCESS);
    QCOMPARE(receive(*t, 10, &st), QByteArray(10, 'x'));
    QCOMPARE(st, VI_SUCCESS_MAX_CNT);
    QCOMPARE(receive(*t, 10, &st), QByteArray(10, 'x'));
    QCOMPARE(st, VI_SUCCESS);

    // A new command discards what is left of the previous reply.
    QCOMPARE(send(*t, "*IDN?\n"), VI_SUCCESS);
    QCOMPARE(receive(*t, 4, &st), QByteArray("SIM,"));
    QCOMPARE(send(*t, "*OPC?\n"), VI_SUCCESS);
    QCOMPARE(receive(*t, 100, &st), QByteArray("1\n"));
    QCOMPARE(st, VI_SUCCESS);

    // 20000 float samples in one block, 64 KiB at a time as viReadToFile reads.
    QCOMPARE(send(*t, "BLOCK? 80000\n"), VI_SUCCESS);
    QByteArray all;
    do
        all += receive(*t, 65536, &st);
    while (st == VI_SUCCESS_MAX_CNT);
    QCOMPARE(st, VI_SUCCESS);
    QCOMPARE(all.size(), 2 + 5 + 80000 + 1);
    QVERIFY(all.startsWith("#580000"));
    QCOMPARE(quint8(all[7 + 10]), quint8(10));
    QCOMPARE(quint8(all[7 + 80000 - 1]), quint8((80000 - 1) & 0xff));

    // A device clear leaves nothing of the reply, at the device or here.
    QCOMPARE(send(*t, "FIXED? 20\n"), VI_SUCCESS);
    QCOMPARE(receive(*t, 4, &st), QByteArray(4, 'x'));
    QCOMPARE(t->clear(2000), VI_SUCCESS);
    QCOMPARE(receive(*t, 100, &st, 300), QByteArray());
    QCOMPARE(st, VI_ERROR_TMO);
}

void TestVxi11Client::deviceErrorLeavesLinkUsable()
{
    ViStatus st;
    auto t = openInstr(startServer(), &st);
    for (const char *cmd : {"IOERR?\n", "TMOERR?\n"}) {
        QCOMPARE(send(*t, cmd), VI_SUCCESS);
        receive(*t, 100, &st);
        QVERIFY(st < 0);
        QCOMPARE(send(*t, "*IDN?\n"), VI_SUCCESS);
        QCOMPARE(receive(*t, 100, &st), QByteArray("SIM,OSC,1,1.0\n"));
        QCOMPARE(st, VI_SUCCESS);
    }
}

void TestVxi11Client::writeSplitAtMaxRecvSize_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("shorter than a piece") << 10;
    QTest::newRow("exact multiple") << 48;
    QTest::newRow("one byte over") << 49;
    QTest::newRow("many pieces") << 1000;
}

void TestVxi11Client::writeSplitAtMaxRecvSize()
{
    QFETCH(int, length);
    ViStatus st;
    auto t = openInstr(startServer(16), &st);
    QCOMPARE(st, VI_SUCCESS);
    QByteArray cmd = "CMD ";
    while (cmd.size() < length - 1)
        cmd += char('a' + cmd.size() % 26);
    cmd += '\n';
    ViUInt32 ret = 0;
    QCOMPARE(t->write(reinterpret_cast<const ViByte *>(cmd.constData()), ViUInt32(cmd.size()), &ret, 2000), VI_SUCCESS);
    QCOMPARE(int(ret), length);
    QVERIFY(server_->largestWrite() <= 16);
    // One program message, whole, however many pieces carried it.
    QCOMPARE(osc_->received(), QList<QByteArray>{cmd.chopped(1)});
    // The link goes on working after the pieces.
    QCOMPARE(send(*t, "*OPC?\n"), VI_SUCCESS);
    QCOMPARE(receive(*t, 100, &st), QByteArray("1\n"));
}

// A client that writes on without END or a final line feed (our client
// always ends its messages, so the link is driven directly).
void TestVxi11Client::unendedMessageBounded()
{
    benchsim::LinkWaker waker;
    benchsim::Vxi11Link link(osc_.get(), &waker);
    const QByteArray piece(64 * 1024, 'x');
    for (int i = 0; i < 40; ++i) // 2.5 MiB
        QCOMPARE(link.write(reinterpret_cast<const uint8_t *>(piece.constData()), size_t(piece.size()), false).size,
                 uint32_t(piece.size()));
    QCOMPARE(osc_->received().size(), 2);
    for (const QByteArray &m : osc_->received())
        QCOMPARE(m.size(), benchsim::MaxProgramMessage);
    // device_clear drops what is left; the link goes on.
    link.clear();
    const QByteArray idn = "*IDN?";
    link.write(reinterpret_cast<const uint8_t *>(idn.constData()), size_t(idn.size()), true);
    QCOMPARE(link.read(100, 1000, false, 0).data, QByteArray("SIM,OSC,1,1.0\n"));
}

void TestVxi11Client::connectionLostMidRead_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<bool>("stopServer");
    QTest::newRow("instrument drops the connection") << QByteArray("DIE? 300\n") << false;
    QTest::newRow("server goes down") << QByteArray("SILENT?\n") << true;
}

void TestVxi11Client::connectionLostMidRead()
{
    QFETCH(QByteArray, command);
    QFETCH(bool, stopServer);
    ViStatus st;
    auto t = openInstr(startServer(), &st);
    QCOMPARE(send(*t, command), VI_SUCCESS);
    QElapsedTimer clock;
    clock.start();
    // The read is already waiting when the connection goes.
    std::thread stopper;
    if (stopServer)
        stopper = std::thread([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            server_->stop();
        });
    receive(*t, 100, &st, 5000);
    if (stopper.joinable())
        stopper.join();
    QCOMPARE(st, VI_ERROR_CONN_LOST);
    QVERIFY(clock.elapsed() < 3000);
    QCOMPARE(send(*t, "*IDN?\n"), VI_ERROR_CONN_LOST);
    QCOMPARE(t->close(), VI_ERROR_CONN_LOST);
}

void TestVxi11Client::instrumentByAddressAndName_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QByteArray>("identity"); // empty: the open fails
    QTest::newRow("second address, inst0") << "127.0.0.2" << "inst0" << QByteArray("SIM,VA");
    QTest::newRow("second address, any instN") << "127.0.0.2" << "inst2" << QByteArray("SIM,VA");
    QTest::newRow("shared address, inst0") << "127.0.0.1" << "inst0" << QByteArray("SIM,OSC,1,1.0");
    QTest::newRow("shared address, inst1") << "127.0.0.1" << "INST1" << QByteArray("SIM,SA");
    QTest::newRow("shared address, no inst2") << "127.0.0.1" << "inst2" << QByteArray();
    QTest::newRow("gateway name") << "127.0.0.1" << "gpib0,12" << QByteArray();
}

void TestVxi11Client::instrumentByAddressAndName()
{
    QFETCH(QString, host);
    QFETCH(QString, device);
    QFETCH(QByteArray, identity);
    ScriptEndpoint sa("SIM,SA"), va("SIM,VA");
    Vxi11Server::Options opt;
    opt.portmapper = false;
    server_ = std::make_unique<Vxi11Server>(
        QVector<Vxi11Server::Device>{{"127.0.0.1", osc_.get()}, {"127.0.0.1", &sa}, {"127.0.0.2", &va}}, opt);
    QString error;
    QVERIFY2(server_->start(&error), qPrintable(error));
    QCOMPARE(server_->resource(1), QStringLiteral("TCPIP::127.0.0.1,%1::inst1::INSTR").arg(server_->corePort()));
    QCOMPARE(server_->resource(2), QStringLiteral("TCPIP::127.0.0.2,%1::inst0::INSTR").arg(server_->corePort()));

    ViStatus st;
    auto t = openInstr(QStringLiteral("TCPIP::%1,%2::%3::INSTR").arg(host).arg(server_->corePort()).arg(device), &st);
    if (identity.isEmpty()) {
        QVERIFY(!t);
        QCOMPARE(st, VI_ERROR_RSRC_NFOUND);
    } else {
        QVERIFY(t);
        QCOMPARE(send(*t, "*IDN?\n"), VI_SUCCESS);
        QCOMPARE(receive(*t, 100, &st), identity + "\n");
        t->close();
    }
    server_.reset(); // before the endpoints on this stack go
}

void TestVxi11Client::linksFreedWithConnection()
{
    ViStatus st;
    const QString rsrc = startServer();
    auto a = openInstr(rsrc, &st);
    auto b = openInstr(rsrc, &st);
    QCOMPARE(server_->linkCount(), 2);
    QCOMPARE(a->close(), VI_SUCCESS); // destroy_link
    a.reset();
    QCOMPARE(server_->linkCount(), 1);
    b.reset(); // the socket closes without destroy_link
    QTRY_COMPARE_WITH_TIMEOUT(server_->linkCount(), 0, 3000);
}

void TestVxi11Client::visaCallsOverVxi11()
{
    const QByteArray rsrc = startServer().toLatin1();
    ViSession rm = 0, vi = 0;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    QCOMPARE(viOpen(rm, rsrc.constData(), 0, 2000, &vi), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 5000), VI_SUCCESS);
    QCOMPARE(viGpibControlREN(vi, VI_GPIB_REN_ADDRESS_GTL), VI_SUCCESS);

    // viReadToFile with a count above the reply's length stops at END.
    QTemporaryDir dir;
    const QByteArray file = dir.filePath("Trace.tmp").toLocal8Bit();
    ViUInt32 ret = 0;
    const char cmd[] = "BLOCK? 80000\n";
    QCOMPARE(viWrite(vi, reinterpret_cast<ViConstBuf>(cmd), ViUInt32(sizeof cmd - 1), &ret), VI_SUCCESS);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(viReadToFile(vi, file.constData(), 80000 + 7 + 10, &ret), VI_SUCCESS);
    QVERIFY(clock.elapsed() < 4000);
    QCOMPARE(int(ret), 80000 + 7 + 1);
    QCOMPARE(QFileInfo(QString::fromLocal8Bit(file)).size(), qint64(80000 + 7 + 1));

    QCOMPARE(viClose(vi), VI_SUCCESS);
    QTRY_COMPARE_WITH_TIMEOUT(server_->linkCount(), 0, 3000);
    QCOMPARE(viClose(rm), VI_SUCCESS);
}

void TestVxi11Client::abortEndsAWaitingRead()
{
    using namespace oncrpc;
    startServer();
    // A link made by hand, to know its id and the abort port it announces.
    Address core;
    QVERIFY(resolveHost("127.0.0.1", server_->corePort(), Deadline::after(2000), &core));
    RpcClient rpc(connectTcp(core, Deadline::after(2000)), 100);
    XdrWriter link;
    link.i32(1);
    link.boolean(false);
    link.u32(0);
    link.string("inst0");
    Bytes res;
    QCOMPARE(int(rpc.call(vxi11::CoreProgram, 1, vxi11::CreateLink, link.bytes(), Deadline::after(2000), &res)),
             int(IoResult::Ok));
    XdrReader r(res);
    QCOMPARE(r.u32(), 0u);
    const uint32_t lid = r.u32();
    QCOMPARE(r.u32(), uint32_t(server_->abortPort()));

    // A read that would wait 10 s for a response that never comes ...
    IoResult readIo = IoResult::Timeout;
    Bytes readRes;
    QElapsedTimer clock;
    clock.start();
    std::thread reader([&] {
        XdrWriter w;
        for (uint32_t v : {lid, 100u, 10000u, 0u, 0u, 0u})
            w.u32(v);
        readIo = rpc.call(vxi11::CoreProgram, 1, vxi11::DeviceRead, w.bytes(), Deadline::after(15000), &readRes);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    // ... ends at once with "abort" when device_abort comes on the other channel.
    Address abortAddr;
    QVERIFY(resolveHost("127.0.0.1", server_->abortPort(), Deadline::after(2000), &abortAddr));
    RpcClient abortRpc(connectTcp(abortAddr, Deadline::after(2000)), 200);
    auto abortLink = [&](uint32_t id) {
        XdrWriter w;
        w.u32(id);
        Bytes out;
        if (abortRpc.call(vxi11::AbortProgram, 1, vxi11::DeviceAbort, w.bytes(), Deadline::after(2000), &out) !=
            IoResult::Ok)
            return 0xffffffffu;
        XdrReader er(out);
        return er.u32();
    };
    QCOMPARE(abortLink(lid), 0u);
    reader.join();
    QVERIFY(clock.elapsed() < 3000);
    QCOMPARE(int(readIo), int(IoResult::Ok));
    XdrReader rr(readRes);
    QCOMPARE(rr.u32(), uint32_t(vxi11::ErrAbort));
    QCOMPARE(abortLink(lid + 1000), uint32_t(vxi11::ErrInvalidLink));
}

void TestVxi11Client::readStatusMapping_data()
{
    QTest::addColumn<uint>("error");
    QTest::addColumn<uint>("reason");
    QTest::addColumn<int>("status");
    QTest::newRow("END") << 0u << uint(vxi11::ReasonEnd) << int(VI_SUCCESS);
    QTest::newRow("END and count") << 0u << uint(vxi11::ReasonEnd | vxi11::ReasonReqCnt) << int(VI_SUCCESS);
    QTest::newRow("count") << 0u << uint(vxi11::ReasonReqCnt) << int(VI_SUCCESS_MAX_CNT);
    QTest::newRow("term char") << 0u << uint(vxi11::ReasonChr) << int(VI_SUCCESS_TERM_CHAR);
    QTest::newRow("io_timeout") << 15u << 0u << int(VI_ERROR_TMO);
    QTest::newRow("io_error") << 17u << 0u << int(VI_ERROR_IO);
    QTest::newRow("invalid link") << 4u << 0u << int(VI_ERROR_IO);
    QTest::newRow("abort") << 23u << 0u << int(VI_ERROR_IO);
}

void TestVxi11Client::readStatusMapping()
{
    QFETCH(uint, error);
    QFETCH(uint, reason);
    QFETCH(int, status);
    FakeCore fake;
    fake.addRead(error, reason, error ? QByteArray() : QByteArray("abcd"));
    ViStatus st;
    auto t = openInstr(fake.resource(), &st);
    QVERIFY(t);
    const QByteArray got = receive(*t, 4, &st);
    QCOMPARE(int(st), status);
    QCOMPARE(got, error ? QByteArray() : QByteArray("abcd"));
    t.reset();
}

void TestVxi11Client::shortChunksAndRefusedProcedure()
{
    // A device that hands out less than asked, without END, is asked again
    // for the rest; the count is the caller's, never exceeded.
    FakeCore fake;
    fake.addRead(0, 0, "abc");
    fake.addRead(0, 0, "def");
    fake.addRead(0, vxi11::ReasonEnd, "g\n");
    ViStatus st;
    auto t = openInstr(fake.resource(), &st);
    // A refused procedure fails that call only; the link goes on.
    QCOMPARE(t->gotoLocal(1000), VI_ERROR_IO);
    QCOMPARE(receive(*t, 100, &st), QByteArray("abcdefg\n"));
    QCOMPARE(st, VI_SUCCESS);
    std::lock_guard<std::mutex> lock(fake.script->mutex);
    // A read of less than the read-ahead asks for the read-ahead (here the
    // announced maxRecvSize) every time; a larger one for what it still wants.
    QCOMPARE(fake.script->requestSizes, (std::vector<uint32_t>{1u << 20, 1u << 20, 1u << 20}));
}

// The device is asked for 1024 bytes (its maxRecvSize) whenever a read wants
// less; what comes beyond the count is served to the following reads.
// Statuses must stay those of reads that each went to the device: END only
// when the message really ended, VI_SUCCESS_MAX_CNT when the count stopped
// the read, and a new command never answered from an old reply.
void TestVxi11Client::readAheadKeepsStatusesExact_data()
{
    QTest::addColumn<FakeReads>("replies");
    QTest::addColumn<ReadSteps>("steps");
    QTest::addColumn<std::vector<uint32_t>>("requests");
    const uint32_t end = vxi11::ReasonEnd, cnt = vxi11::ReasonReqCnt;
    const ViStatus ok = VI_SUCCESS, max = VI_SUCCESS_MAX_CNT;
    const std::vector<uint32_t> one{1024}, two{1024, 1024};

    QTest::newRow("held rest ends at the count")
        << FakeReads{{0, end, "abcdef"}}
        << ReadSteps{readStep(2, max, "ab"), readStep(4, ok, "cdef")} << one;
    QTest::newRow("held rest shorter than the count")
        << FakeReads{{0, end, "abcdef"}}
        << ReadSteps{readStep(2, max, "ab"), readStep(100, ok, "cdef")} << one;
    QTest::newRow("several reads within the held rest")
        << FakeReads{{0, end, "abcdef"}}
        << ReadSteps{readStep(2, max, "ab"), readStep(2, max, "cd"), readStep(2, ok, "ef")} << one;
    QTest::newRow("message longer than the read-ahead")
        << FakeReads{{0, cnt, QByteArray(1024, 'x')}, {0, end, "yz"}}
        << ReadSteps{readStep(2, max, "xx"), readStep(1022, max, QByteArray(1022, 'x')),
                     readStep(10, ok, "yz")} << two;
    QTest::newRow("held rest without END fills the count")
        << FakeReads{{0, cnt, "abcdef"}}
        << ReadSteps{readStep(2, max, "ab"), readStep(4, max, "cdef")} << one;
    QTest::newRow("held rest without END, then the device's rest")
        << FakeReads{{0, cnt, "abcdef"}, {0, end, "gh"}}
        << ReadSteps{readStep(2, max, "ab"), readStep(100, ok, "cdefgh")} << two;
    QTest::newRow("device error after the held rest")
        << FakeReads{{0, 0, "abcdef"}, {vxi11::ErrIoTimeout, 0, ""}}
        << ReadSteps{readStep(2, max, "ab"), readStep(100, VI_ERROR_TMO, "cdef")} << two;
    QTest::newRow("new command drops the held rest")
        << FakeReads{{0, end, "abcdef"}, {0, end, "NEW\n"}}
        << ReadSteps{readStep(2, max, "ab"), writeStep(), readStep(100, ok, "NEW\n")} << two;
    QTest::newRow("device clear drops the held rest")
        << FakeReads{{0, end, "abcdef"}, {0, end, "NEW\n"}}
        << ReadSteps{readStep(2, max, "ab"), clearStep(), readStep(100, ok, "NEW\n")} << two;
    QTest::newRow("count at the read-ahead asks for the count")
        << FakeReads{{0, cnt, QByteArray(1024, 'x')}, {0, end, QByteArray(476, 'x')}}
        << ReadSteps{readStep(1024, max, QByteArray(1024, 'x')), readStep(2000, ok, QByteArray(476, 'x'))}
        << std::vector<uint32_t>{1024, 2000};
    QTest::newRow("device error with data holds nothing")
        << FakeReads{{vxi11::ErrIoError, end, "abcdef"}, {0, end, "1\n"}}
        << ReadSteps{readStep(2, VI_ERROR_IO, "ab"), readStep(100, ok, "1\n")} << two;
    QTest::newRow("more than asked is refused, nothing held")
        << FakeReads{{0, end, QByteArray(1025, 'x')}, {0, end, "1\n"}}
        << ReadSteps{readStep(2, VI_ERROR_IO, ""), readStep(100, ok, "1\n")} << two;
}

void TestVxi11Client::readAheadKeepsStatusesExact()
{
    QFETCH(FakeReads, replies);
    QFETCH(ReadSteps, steps);
    QFETCH(std::vector<uint32_t>, requests);
    FakeCore fake;
    fake.script->maxRecvSize = vxi11::MinMaxRecvSize;
    for (const FakeRead &r : replies)
        fake.addRead(r.error, r.reason, r.data);
    ViStatus st;
    auto t = openInstr(fake.resource(), &st);
    QVERIFY(t);
    for (int i = 0; i < steps.size(); ++i) {
        const ReadStep &step = steps[i];
        if (step.count == 0) {
            QCOMPARE(step.clear ? t->clear(2000) : send(*t, "*IDN?\n"), VI_SUCCESS);
            continue;
        }
        const QByteArray got = receive(*t, step.count, &st);
        QVERIFY2(st == step.status, qPrintable(QStringLiteral("step %1: status %2").arg(i).arg(st, 0, 16)));
        QCOMPARE(got, step.data);
    }
    std::lock_guard<std::mutex> lock(fake.script->mutex);
    QCOMPARE(fake.script->requestSizes, requests);
}

// The application's block path (the two header bytes, the count digits,
// then the data into a file) through the VISA calls: one device_read in all.
void TestVxi11Client::blockPathInOneRoundTrip()
{
    FakeCore fake;
    const QByteArray data = ScriptEndpoint("").handle("BLOCK? 80000").bytes;
    fake.addRead(0, vxi11::ReasonEnd, data);
    fake.addRead(0, vxi11::ReasonEnd, "SIM,OSC\n");
    const QByteArray rsrc = fake.resource().toLatin1();
    ViSession rm = 0, vi = 0;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    QCOMPARE(viOpen(rm, rsrc.constData(), 0, 2000, &vi), VI_SUCCESS);
    ViByte head[8] = {};
    ViUInt32 ret = 0;
    QCOMPARE(viRead(vi, head, 2, &ret), VI_SUCCESS_MAX_CNT);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(head), int(ret)), QByteArray("#5"));
    QCOMPARE(viRead(vi, head, 5, &ret), VI_SUCCESS_MAX_CNT);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(head), int(ret)), QByteArray("80000"));
    QTemporaryDir dir;
    const QByteArray file = dir.filePath("Trace.tmp").toLocal8Bit();
    QCOMPARE(viReadToFile(vi, file.constData(), 80000 + 10, &ret), VI_SUCCESS);
    QCOMPARE(int(ret), 80000 + 1);
    QFile spooled(QString::fromLocal8Bit(file));
    QVERIFY(spooled.open(QIODevice::ReadOnly));
    QCOMPARE(spooled.readAll(), data.mid(7));
    {
        std::lock_guard<std::mutex> lock(fake.script->mutex);
        QCOMPARE(fake.script->requestSizes.size(), size_t(1));
    }
    // The message ended: the next read goes to the device again.
    char idn[32] = {};
    QCOMPARE(viQueryf(vi, "*IDN?\n", "%32c", idn), VI_SUCCESS);
    QCOMPARE(QByteArray(idn), QByteArray("SIM,OSC\n"));
    QCOMPARE(viClose(vi), VI_SUCCESS);
    QCOMPARE(viClose(rm), VI_SUCCESS);
}

void TestVxi11Client::staleReplyAfterTimeoutDiscarded()
{
    FakeCore fake;
    // The device answers the first read long after our wait (time-out plus
    // margin) has ended; that answer must not be taken for the second read's.
    fake.addRead(0, vxi11::ReasonEnd, "OLD\n", 1800);
    fake.addRead(0, vxi11::ReasonEnd, "NEW\n");
    ViStatus st;
    auto t = openInstr(fake.resource(), &st);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(receive(*t, 100, &st, 100), QByteArray());
    QCOMPARE(st, VI_ERROR_TMO);
    QVERIFY(clock.elapsed() < 1700);
    QCOMPARE(receive(*t, 100, &st, 3000), QByteArray("NEW\n"));
    QCOMPARE(st, VI_SUCCESS);
}

// Each call answered well within the time-out, but so many of them that
// the operation as a whole would run far past it.
void TestVxi11Client::slowPiecesBoundedByTimeout_data()
{
    QTest::addColumn<bool>("reading");
    QTest::newRow("read trickling without END") << true;
    QTest::newRow("write split into slow pieces") << false;
}

void TestVxi11Client::slowPiecesBoundedByTimeout()
{
    QFETCH(bool, reading);
    FakeCore fake;
    fake.script->maxRecvSize = vxi11::MinMaxRecvSize;
    fake.script->writeDelayMs = 50;
    for (int i = 0; i < 60; ++i)
        fake.addRead(0, 0, "x", 50);
    ViStatus st;
    auto t = openInstr(fake.resource(), &st);
    QVERIFY(t);
    QElapsedTimer clock;
    clock.start();
    if (reading)
        receive(*t, 100, &st, 300);
    else
        st = send(*t, QByteArray(60 * vxi11::MinMaxRecvSize, 'w'), 300);
    QCOMPARE(st, VI_ERROR_TMO);
    QVERIFY2(clock.elapsed() < 1500, QByteArray::number(clock.elapsed()));
}

void TestVxi11Client::openTimeoutBoundsCreateLink()
{
    FakeCore fake;
    fake.script->createLinkDelayMs = 3000;
    ViStatus st = VI_SUCCESS;
    QElapsedTimer clock;
    clock.start();
    auto t = openInstr(fake.resource(), &st, 500);
    QVERIFY(!t);
    // The host took the connection: the instrument is there, but silent.
    QCOMPARE(st, VI_ERROR_TMO);
    QVERIFY(clock.elapsed() < 1500);
}

// Bytes keep coming, but never the reply awaited: each VISA call still ends
// at its time-out plus the second the client allows the device's own reply
// (none at open and close), and the link goes on once the peer behaves.
void TestVxi11Client::hostileCoreBoundedByTimeout_data()
{
    QTest::addColumn<uint>("proc");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("boundMs"); // time-out plus margin
    using M = HostileCore::Mode;
    const uint link = vxi11::CreateLink, read = vxi11::DeviceRead, destroy = vxi11::DestroyLink;
    QTest::newRow("viOpen, other xids") << link << int(M::OtherXids) << "open" << 1000;
    QTest::newRow("viOpen, empty fragments") << link << int(M::EmptyFragments) << "open" << 1000;
    QTest::newRow("%d query, other xids") << read << int(M::OtherXids) << "query" << 2000 + 1000;
    QTest::newRow("%d query, empty fragments") << read << int(M::EmptyFragments) << "query" << 2000 + 1000;
    QTest::newRow("%d query, trickle") << read << int(M::Trickle) << "query" << 2000 + 1000;
    QTest::newRow("viClose, other xids") << destroy << int(M::OtherXids) << "close" << 1000;
    QTest::newRow("viClose, empty fragments") << destroy << int(M::EmptyFragments) << "close" << 1000;
}

void TestVxi11Client::hostileCoreBoundedByTimeout()
{
    QFETCH(uint, proc);
    QFETCH(int, mode);
    QFETCH(QString, call);
    QFETCH(int, boundMs);
    HostileCore core(proc, HostileCore::Mode(mode));
    const QByteArray rsrc = core.resource().toLatin1();
    ViSession rm = 0, vi = 0;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    QElapsedTimer clock;
    clock.start();
    ViStatus st = viOpen(rm, rsrc.constData(), 0, call == "open" ? 1000 : 5000, &vi);
    if (call == "open") {
        QCOMPARE(st, VI_ERROR_TMO); // the host is there, but does not answer
    } else {
        QCOMPARE(st, VI_SUCCESS);
        QCOMPARE(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 2000), VI_SUCCESS);
        ViInt32 value = 0;
        clock.restart();
        if (call == "query") {
            QCOMPARE(viQueryf(vi, "*OPC?\n", "%d", &value), VI_ERROR_TMO);
            QVERIFY2(clock.elapsed() < boundMs + 1000, QByteArray::number(clock.elapsed()));
            // What was left of the stream is dropped; the next query is answered.
            QCOMPARE(viQueryf(vi, "*OPC?\n", "%d", &value), VI_SUCCESS);
            QCOMPARE(value, 1);
        }
        clock.restart();
        QCOMPARE(viClose(vi), VI_SUCCESS);
    }
    QVERIFY2(clock.elapsed() < boundMs + 1000, QByteArray::number(clock.elapsed()));
    QCOMPARE(viClose(rm), VI_SUCCESS);
}

// A device_read the instrument never answers ends when the device's
// io_timeout plus the client's second for the reply have passed: not before
// (the device may still answer), and not long after, also for the long
// waits the kernel's timer wheel would round up by a quarter second.
void TestVxi11Client::unansweredReadEndsAtItsBound_data()
{
    QTest::addColumn<uint>("timeoutMs");
    QTest::newRow("300 ms") << 300u;
    QTest::newRow("2000 ms") << 2000u;
}

void TestVxi11Client::unansweredReadEndsAtItsBound()
{
    QFETCH(uint, timeoutMs);
    HostileCore core(vxi11::DeviceRead, HostileCore::Mode::Silent);
    ViStatus st;
    auto t = openInstr(core.resource(), &st);
    QVERIFY(t);
    QCOMPARE(send(*t, "*OPC?\n"), VI_SUCCESS);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(receive(*t, 100, &st, timeoutMs), QByteArray());
    const qint64 ms = clock.elapsed();
    QCOMPARE(st, VI_ERROR_TMO);
    const qint64 bound = qint64(timeoutMs) + 1000;
    QVERIFY2(ms >= bound - 100 && ms < bound + 500, QByteArray::number(ms));
    // The link goes on: the next exchange is answered.
    QCOMPARE(send(*t, "*OPC?\n"), VI_SUCCESS);
    QCOMPARE(receive(*t, 100, &st), QByteArray("1\n"));
    QCOMPARE(st, VI_SUCCESS);
}

// Replies to other calls, 40 MB each, stream past a read that waits for its
// own: none of them is held, and the read gets its reply.
void TestVxi11Client::hugeStaleRepliesCostNoMemory()
{
    HostileCore core(vxi11::DeviceRead, HostileCore::Mode::HugeOtherXids);
    ViStatus st;
    auto t = openInstr(core.resource(), &st);
    QVERIFY(t);
    QCOMPARE(send(*t, "DATA?\n"), VI_SUCCESS);
    const ViUInt32 count = 64u << 20; // asked for; its pages are only touched where data land
    std::unique_ptr<ViByte[]> buf(new ViByte[count]);
    const bool peakReset = resetPeakResidentMemory();
    const qint64 peakBefore = peakResidentMemoryKib();
    ViUInt32 ret = 0;
    st = t->read(buf.get(), count, &ret, 10000);
    const qint64 peakGrowth = peakResidentMemoryKib() - peakBefore;
    QCOMPARE(st, VI_SUCCESS);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(buf.get()), int(ret)), QByteArray("1\n"));
    if (!peakReset)
        QSKIP("this kernel cannot reset the peak resident memory");
    QVERIFY2(peakGrowth < 16 * 1024, QByteArray::number(peakGrowth) + " KiB");
}

QTEST_GUILESS_MAIN(TestVxi11Client)
#include "tst_vxi11client.moc"
