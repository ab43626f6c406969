// The simulator's VXI-11 server as a bench looks to clients that are not
// ours: portmapper on port 111 of 127.0.0.1/.2/.3, pyvisa-py and the lxi CLI,
// plus our own client through the portmapper. And our client and the SCPI
// console against a VXI-11 server we did not write. Port 111 needs privileges, so
// the test re-runs itself inside a private user and network namespace
// (unshare -rn); where that is not allowed it skips.
#include "netns.h"
#include "scriptendpoint.h"

#include "sim/vxi11server.h"
#include "visa/oncrpc.h"
#include "visa/visa.h"
#include "visa/vxi11proto.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using benchsim::Vxi11Server;

namespace {

struct Sample {
    ViStatus shortRead = 0, readToEnd = 0, nothingToRead = 0;
    double opcMs = 0, blockMs = 0;
};

ViStatus writeText(ViSession vi, const char *text)
{
    ViUInt32 ret = 0;
    return viWrite(vi, reinterpret_cast<ViConstBuf>(text), ViUInt32(std::strlen(text)), &ret);
}

ViStatus readInto(ViSession vi, QByteArray *buf, ViUInt32 count)
{
    buf->resize(int(count));
    ViUInt32 ret = 0;
    ViStatus st = viRead(vi, reinterpret_cast<ViBuf>(buf->data()), count, &ret);
    buf->truncate(int(ret));
    return st;
}

} // namespace

class TestVxi11Interop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void ourClientThroughPortmapper_data();
    void ourClientThroughPortmapper();
    void udpGetAddrNamesTheQueriedAddress();
    void silentPortmapperIsATimeout();
    void lxiCli();
    void pyvisaMatchesOurClient();
    void independentServer_data();
    void independentServer();

private:
    ScriptEndpoint osc_{"SIM,OSC,0,1"}, sa_{"SIM,SA,0,1"}, va_{"SIM,VA,0,1"};
    std::unique_ptr<Vxi11Server> server_;
};

void TestVxi11Interop::initTestCase()
{
    if (!inNetNamespace())
        QSKIP(QUENVIA_NETNS_SKIP_MESSAGE);
    server_ = std::make_unique<Vxi11Server>(QVector<Vxi11Server::Device>{
        {"127.0.0.1", &osc_}, {"127.0.0.2", &sa_}, {"127.0.0.3", &va_}});
    QString error;
    QVERIFY2(server_->start(&error), qPrintable(error));
    QCOMPARE(server_->portmapperPort(), quint16(111));
}

void TestVxi11Interop::cleanupTestCase() { server_.reset(); }

void TestVxi11Interop::ourClientThroughPortmapper_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("identity");
    QTest::newRow("127.0.0.1") << 0 << QByteArray("SIM,OSC,0,1\n");
    QTest::newRow("127.0.0.2") << 1 << QByteArray("SIM,SA,0,1\n");
    QTest::newRow("127.0.0.3") << 2 << QByteArray("SIM,VA,0,1\n");
}

void TestVxi11Interop::ourClientThroughPortmapper()
{
    QFETCH(int, index);
    QFETCH(QByteArray, identity);
    const QByteArray rsrc = server_->resource(index).toLatin1();
    QCOMPARE(rsrc, QStringLiteral("TCPIP::127.0.0.%1::INSTR").arg(index + 1).toLatin1());
    ViSession rm = 0, vi = 0;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    QCOMPARE(viOpen(rm, rsrc.constData(), 0, 2000, &vi), VI_SUCCESS);
    QCOMPARE(writeText(vi, "*IDN?\n"), VI_SUCCESS);
    QByteArray reply;
    QCOMPARE(readInto(vi, &reply, 200), VI_SUCCESS);
    QCOMPARE(reply, identity);
    QCOMPARE(viClose(vi), VI_SUCCESS);
    QCOMPARE(viClose(rm), VI_SUCCESS);
}

void TestVxi11Interop::udpGetAddrNamesTheQueriedAddress()
{
    // What a libtirpc client asks first: rpcbind v4 GETADDR, over UDP.
    oncrpc::XdrWriter args;
    args.u32(vxi11::CoreProgram);
    args.u32(vxi11::CoreVersion);
    args.string("tcp");
    args.string("");
    args.string("");
    const oncrpc::Bytes call =
        oncrpc::encodeCall(77, portmap::Program, portmap::Version4, portmap::GetAddr, args.bytes());
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    QVERIFY(fd >= 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(111);
    ::inet_pton(AF_INET, "127.0.0.3", &to.sin_addr);
    QCOMPARE(::sendto(fd, call.data(), call.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to),
             ssize_t(call.size()));
    pollfd p{fd, POLLIN, 0};
    QCOMPARE(::poll(&p, 1, 3000), 1);
    uint8_t buf[1500];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    ::close(fd);
    QVERIFY(n > 0);
    oncrpc::XdrReader r(buf, size_t(n));
    oncrpc::ReplyHeader h;
    QVERIFY(oncrpc::decodeReply(r, &h));
    QVERIFY(h.success());
    QCOMPARE(h.xid, 77u);
    const quint16 port = server_->corePort();
    QCOMPARE(QString::fromStdString(r.string(100)),
             QStringLiteral("127.0.0.3.%1.%2").arg(port >> 8).arg(port & 0xff));
}

// A host whose port 111 takes the connection but never answers is there and
// silent: VI_ERROR_TMO at the open time-out, not "not found".
void TestVxi11Interop::silentPortmapperIsATimeout()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(111);
    ::inet_pton(AF_INET, "127.0.0.4", &addr.sin_addr);
    QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    QCOMPARE(::listen(fd, 4), 0); // connections complete without accept()
    ViSession rm = 0, vi = 0;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    QElapsedTimer clock;
    clock.start();
    const ViStatus st = viOpen(rm, "TCPIP::127.0.0.4::INSTR", 0, 1000, &vi);
    const qint64 elapsed = clock.elapsed();
    ::close(fd);
    QCOMPARE(st, VI_ERROR_TMO);
    QVERIFY2(elapsed < 1000 + 1000, QByteArray::number(elapsed));
    // Nobody at all on port 111: the host is there and refuses, which the
    // application words as a host without a portmapper.
    QCOMPARE(viOpen(rm, "TCPIP::127.0.0.5::INSTR", 0, 1000, &vi), VI_ERROR_MACHINE_NAVAIL);
    QCOMPARE(viClose(rm), VI_SUCCESS);
}

void TestVxi11Interop::lxiCli()
{
    QProcess lxi;
    lxi.start(QStringLiteral("lxi"), {"scpi", "-a", "127.0.0.3", "-t", "5", "*IDN?"});
    if (!lxi.waitForStarted(5000))
        QSKIP("the lxi CLI (Debian lxi-tools) is not installed");
    QVERIFY(lxi.waitForFinished(20000));
    const QByteArray out = lxi.readAllStandardOutput();
    QVERIFY2(out.contains("SIM,VA,0,1"), out + lxi.readAllStandardError());
    QCOMPARE(lxi.exitCode(), 0);
    // lxi sends "*IDN?" without a line feed: END alone ended the message.
    QVERIFY(va_.received().contains("*IDN?"));
}

void TestVxi11Interop::pyvisaMatchesOurClient()
{
    QProcess py;
    py.start(QStringLiteral(SYSTEM_PYTHON3), {QStringLiteral(VXI11_TEST_DIR "/pyvisa_client.py"),
                                              server_->resource(1)});
    QVERIFY(py.waitForFinished(120000));
    const QByteArray out = py.readAllStandardOutput();
    const QByteArray err = py.readAllStandardError();
    if (py.exitCode() != 0 && err.contains("ModuleNotFoundError"))
        QSKIP("pyvisa or pyvisa-py is not installed for " SYSTEM_PYTHON3);
    QVERIFY2(py.exitCode() == 0, err.constData());
    const QJsonObject theirs = QJsonDocument::fromJson(out).object();
    QVERIFY2(!theirs.isEmpty(), out + err);
    QCOMPARE(theirs.value("idn").toString(), QStringLiteral("SIM,SA,0,1"));
    QCOMPARE(theirs.value("points").toInt(), 20000);
    QVERIFY(theirs.value("valuesOk").toBool());

    // The same three reads through our client, on the same server.
    Sample ours;
    ViSession rm = 0, vi = 0;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    QCOMPARE(viOpen(rm, server_->resource(1).toLatin1().constData(), 0, 2000, &vi), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 5000), VI_SUCCESS);
    QByteArray buf;
    writeText(vi, "*IDN?\n");
    ours.shortRead = readInto(vi, &buf, 2);
    readInto(vi, &buf, 1000);
    writeText(vi, "*IDN?\n");
    ours.readToEnd = readInto(vi, &buf, 1000);
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, 500);
    writeText(vi, "SILENT?\n");
    ours.nothingToRead = readInto(vi, &buf, 1000);
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, 5000);

    QCOMPARE(ours.shortRead, VI_SUCCESS_MAX_CNT);
    QCOMPARE(ours.readToEnd, VI_SUCCESS);
    QCOMPARE(ours.nothingToRead, VI_ERROR_TMO);
    QCOMPARE(ViStatus(theirs.value("shortRead").toInt()), ours.shortRead);
    QCOMPARE(ViStatus(theirs.value("readToEnd").toInt()), ours.readToEnd);
    QCOMPARE(ViStatus(theirs.value("nothingToRead").toInt()), ours.nothingToRead);

    // Timings, for the record (no assertion on speed).
    const int opcRuns = 50, blockRuns = 10;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < opcRuns; ++i) {
        QCOMPARE(writeText(vi, "*OPC?\n"), VI_SUCCESS);
        QCOMPARE(readInto(vi, &buf, 100), VI_SUCCESS);
    }
    ours.opcMs = clock.nsecsElapsed() / 1e6 / opcRuns;
    clock.restart();
    for (int i = 0; i < blockRuns; ++i) {
        QCOMPARE(writeText(vi, "FLOATS? 20000\n"), VI_SUCCESS);
        QCOMPARE(readInto(vi, &buf, 80000 + 7 + 10), VI_SUCCESS);
        QCOMPARE(buf.size(), 80000 + 7 + 1);
    }
    ours.blockMs = clock.nsecsElapsed() / 1e6 / blockRuns;
    qInfo("*OPC? round trip: ours %.3f ms, pyvisa-py %.3f ms", ours.opcMs, theirs.value("opcMs").toDouble());
    qInfo("20000-point block: ours %.3f ms, pyvisa-py %.3f ms", ours.blockMs, theirs.value("blockMs").toDouble());
    QCOMPARE(viClose(vi), VI_SUCCESS);
    QCOMPARE(viClose(rm), VI_SUCCESS);
}

// The independent server runs on an ephemeral core port; "-m" sets the
// maxRecvSize it announces, which bounds how far our reads look ahead.
void TestVxi11Interop::independentServer_data()
{
    QTest::addColumn<QString>("maxRecvSize");
    QTest::newRow("its default, 1 MiB") << QString();
    QTest::newRow("1024 bytes") << QStringLiteral("1024");
}

void TestVxi11Interop::independentServer()
{
    QFETCH(QString, maxRecvSize);
    if (QString(VXI11_REF_SERVER).isEmpty())
        QSKIP("the independent VXI-11 server was not built (its sources, rpcgen or libtirpc missing)");
    QProcess ref;
    ref.start(QStringLiteral(VXI11_REF_SERVER),
              maxRecvSize.isEmpty() ? QStringList() : QStringList{QStringLiteral("-m"), maxRecvSize});
    QVERIFY(ref.waitForStarted(5000));
    ref.setReadChannel(QProcess::StandardError); // where it says it is ready
    QString ready;
    QRegularExpressionMatch port;
    for (int i = 0; i < 50 && !port.hasMatch(); ++i) {
        ref.waitForReadyRead(100);
        ready += QString::fromLatin1(ref.readAllStandardError());
        port = QRegularExpression(QStringLiteral("core port (\\d+),")).match(ready);
    }
    QVERIFY2(port.hasMatch(), qPrintable(ready));
    const QByteArray rsrc = QStringLiteral("TCPIP::127.0.0.1,%1::inst0::INSTR").arg(port.captured(1)).toLatin1();

    ViSession rm = 0, vi = 0;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    QCOMPARE(viOpen(rm, rsrc.constData(), 0, 2000, &vi), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 5000), VI_SUCCESS);
    QByteArray buf;
    // A reply of exactly 10 bytes read 4 and 6: the second ends with END.
    QCOMPARE(writeText(vi, "TEST:LEN? 10\n"), VI_SUCCESS);
    QCOMPARE(readInto(vi, &buf, 4), VI_SUCCESS_MAX_CNT);
    QCOMPARE(readInto(vi, &buf, 6), VI_SUCCESS);
    QCOMPARE(buf, QByteArray("AAAAA\n"));
    // A new query after a partial read gets its own reply.
    QCOMPARE(writeText(vi, "TEST:LEN? 10\n"), VI_SUCCESS);
    QCOMPARE(readInto(vi, &buf, 4), VI_SUCCESS_MAX_CNT);
    QCOMPARE(writeText(vi, "*IDN?\n"), VI_SUCCESS);
    QCOMPARE(readInto(vi, &buf, 100), VI_SUCCESS);
    QCOMPARE(buf, QByteArray("SIMCO,SCOPE-1,SN0001,1.0\n"));
    // The application's block path: header, digits, the data to a file.
    QTemporaryDir dir;
    const QByteArray file = dir.filePath("Trace.tmp").toLocal8Bit();
    QCOMPARE(writeText(vi, "CHAN1:DATA?\n"), VI_SUCCESS);
    QCOMPARE(readInto(vi, &buf, 2), VI_SUCCESS_MAX_CNT);
    QCOMPARE(buf, QByteArray("#5"));
    QCOMPARE(readInto(vi, &buf, 5), VI_SUCCESS_MAX_CNT);
    QCOMPARE(buf, QByteArray("80000"));
    ViUInt32 ret = 0;
    QCOMPARE(viReadToFile(vi, file.constData(), 80000 + 10, &ret), VI_SUCCESS);
    QCOMPARE(int(ret), 80000 + 1);
    QFile spooled(QString::fromLocal8Bit(file));
    QVERIFY(spooled.open(QIODevice::ReadOnly));
    const QByteArray data = spooled.readAll();
    QCOMPARE(data.size(), 80000 + 1);
    for (int i : {0, 255, 256, 4095, 65535, 79999})
        QCOMPARE(quint8(data[i]), quint8(i & 0xff));
    QCOMPARE(data.back(), '\n');
    QCOMPARE(viClose(vi), VI_SUCCESS);
    QCOMPARE(viClose(rm), VI_SUCCESS);

    // The console: text, a block to a file, a command that is no query.
    QProcess console;
    console.start(QStringLiteral(QUENVIA_EXE), {"--scpi", QString::fromLatin1(rsrc), "--raw", dir.filePath("raw.bin"),
                                               "*IDN?", "CHAN1:DATA?", "ACQ:POIN 10", "TEST:LEN? 4"});
    QVERIFY(console.waitForFinished(30000));
    const QString err = QString::fromLocal8Bit(console.readAllStandardError());
    QVERIFY2(console.exitCode() == 0, qPrintable(err));
    QCOMPARE(QString::fromLocal8Bit(console.readAllStandardOutput()),
             QStringLiteral("SIMCO,SCOPE-1,SN0001,1.0\n"
                            "block of 80000 bytes, written to %1, float32: 3.820471e-37 1.008251e-34 "
                            "2.658463e-32 7.003653e-30 1.84362e-27 4.849422e-25 1.274669e-22 3.348188e-20 ...\n"
                            "AAA\n")
                 .arg(dir.filePath("raw.bin")));
    QFile raw(dir.filePath("raw.bin"));
    QVERIFY(raw.open(QIODevice::ReadOnly));
    QCOMPARE(raw.readAll(), data.left(80000));
    ref.terminate();
    QVERIFY(ref.waitForFinished(5000));
}

int main(int argc, char **argv)
{
    reexecInNetNamespace(argc, argv);
    QCoreApplication app(argc, argv);
    TestVxi11Interop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_vxi11interop.moc"
