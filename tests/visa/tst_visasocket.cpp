// The VISA C functions over the raw socket transport, against a scripted
// instrument on the loopback interface.

#include "tests/visa/peakmemory.h"
#include "tests/visa/scriptedserver.h"
#include "visa/visa.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <netinet/in.h>

namespace {

// Answers each line it receives with the next reply, then waits for the client to go.
ScriptedServer::Script replies(QList<QByteArray> answers)
{
    return [answers](ScriptedPeer &peer) {
        for (const QByteArray &a : answers) {
            if (peer.readLine().empty())
                return;
            peer.send(a.toStdString());
        }
        peer.waitClientClose();
    };
}

// A port on 127.0.0.1 that nothing listens on.
quint16 closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

ViStatus writeText(ViSession vi, const char *text)
{
    ViUInt32 ret = 0;
    return viWrite(vi, reinterpret_cast<const ViByte *>(text), ViUInt32(qstrlen(text)), &ret);
}

} // namespace

class VisaSocketTest : public QObject {
    Q_OBJECT

    ViSession rm = 0;

    ViSession open(const ScriptedServer &server, ViUInt32 timeoutMs = 2000)
    {
        ViSession vi = 0;
        const QByteArray name = server.resource().toLatin1();
        if (viOpen(rm, name.constData(), VI_NULL, 5000, &vi) != VI_SUCCESS)
            return 0;
        viSetAttribute(vi, VI_ATTR_TMO_VALUE, timeoutMs);
        return vi;
    }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void sessionTable();
    void closingManagerClosesItsSessions();
    void openFailures_data();
    void openFailures();
    void openTimeoutBoundsConnect();
    void readsFollowMessageBoundaries_data();
    void readsFollowMessageBoundaries();
    void readTimesOutWithinBound();
    void lostConnection();
    void resetPeerDuringLongWrite();
    void lateReplyIsNotTakenForTheNext();
    void queryfFormats_data();
    void queryfFormats();
    void queryfLongReplyIsCut();
    void queryfRejectsConversions();
    void readToFile();
    void endlessOutputIsBoundedByTimeout();
    void endlessBlockIsBoundedByTimeout_data();
    void endlessBlockIsBoundedByTimeout();
    void gotoLocalSendsNothing();
};

void VisaSocketTest::initTestCase()
{
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    QVERIFY(rm != 0);
}

void VisaSocketTest::cleanupTestCase()
{
    QCOMPARE(viClose(rm), VI_SUCCESS);
}

void VisaSocketTest::sessionTable()
{
    ViSession vi = 1234;
    QCOMPARE(viClose(0), VI_ERROR_INV_OBJECT);
    QCOMPARE(viClose(0x7777), VI_ERROR_INV_OBJECT);
    QCOMPARE(viOpen(0, "TCPIP::127.0.0.1::5025::SOCKET", VI_NULL, 1000, &vi), VI_ERROR_INV_OBJECT);
    QCOMPARE(vi, ViSession(0));

    ScriptedServer server(replies({}));
    const ViSession s = open(server);
    QVERIFY(s != 0 && s != rm);
    // Only a resource manager opens sessions.
    QCOMPARE(viOpen(s, "TCPIP::127.0.0.1::5025::SOCKET", VI_NULL, 1000, &vi), VI_ERROR_INV_OBJECT);
    // I/O on the resource manager itself is no operation of it.
    ViByte b[4];
    ViUInt32 n = 0;
    QCOMPARE(viRead(rm, b, 4, &n), VI_ERROR_NSUP_OPER);

    ViUInt32 tmo = 0;
    QCOMPARE(viGetAttribute(s, VI_ATTR_TMO_VALUE, &tmo), VI_SUCCESS);
    QCOMPARE(tmo, ViUInt32(2000));
    QCOMPARE(viSetAttribute(s, VI_ATTR_TMO_VALUE, 5000), VI_SUCCESS);
    QCOMPARE(viGetAttribute(s, VI_ATTR_TMO_VALUE, &tmo), VI_SUCCESS);
    QCOMPARE(tmo, ViUInt32(5000));
    QCOMPARE(viSetAttribute(s, 0x3FFF0018, 1), VI_ERROR_NSUP_ATTR);

    QCOMPARE(viClose(s), VI_SUCCESS);
    QCOMPARE(viClose(s), VI_ERROR_INV_OBJECT);
    QCOMPARE(writeText(s, "*IDN?\n"), VI_ERROR_INV_OBJECT);
    QCOMPARE(viSetAttribute(s, VI_ATTR_TMO_VALUE, 1), VI_ERROR_INV_OBJECT);
    QVERIFY(server.waitDone());
}

void VisaSocketTest::closingManagerClosesItsSessions()
{
    ViSession rm2 = 0;
    QCOMPARE(viOpenDefaultRM(&rm2), VI_SUCCESS);
    ViUInt32 tmo = 0;
    QCOMPARE(viGetAttribute(rm2, VI_ATTR_TMO_VALUE, &tmo), VI_SUCCESS);
    QCOMPARE(tmo, ViUInt32(2000));

    ScriptedServer server(replies({}));
    ViSession vi = 0;
    QCOMPARE(viOpen(rm2, server.resource().toLatin1().constData(), VI_NULL, 5000, &vi), VI_SUCCESS);
    QCOMPARE(viClose(rm2), VI_SUCCESS);
    QCOMPARE(writeText(vi, "X\n"), VI_ERROR_INV_OBJECT);
    QCOMPARE(viClose(vi), VI_ERROR_INV_OBJECT);
    // The connection was really closed: the server's script ends.
    QVERIFY(server.waitDone());
    QVERIFY(server.received().empty());
}

void VisaSocketTest::openFailures_data()
{
    QTest::addColumn<QString>("resource");
    QTest::addColumn<int>("status");

    QTest::newRow("unparsable") << "COM1" << int(VI_ERROR_INV_RSRC_NAME);
    QTest::newRow("empty") << "" << int(VI_ERROR_INV_RSRC_NAME);
    QTest::newRow("malformed host") << "TCPIP::[a,b]::INSTR" << int(VI_ERROR_INV_RSRC_NAME);
    // The host is there and refuses: not the same as a host that is not.
    QTest::newRow("refused") << QStringLiteral("TCPIP::127.0.0.1::%1::SOCKET").arg(closedPort())
                             << int(VI_ERROR_MACHINE_NAVAIL);
    QTest::newRow("refused by name") << QStringLiteral("TCPIP::localhost::%1::SOCKET").arg(closedPort())
                                     << int(VI_ERROR_MACHINE_NAVAIL);
    QTest::newRow("unknown host") << "TCPIP::no-such-host.invalid::5025::SOCKET" << int(VI_ERROR_RSRC_NFOUND);
}

void VisaSocketTest::openFailures()
{
    QFETCH(QString, resource);
    QFETCH(int, status);
    ViSession vi = 99;
    QCOMPARE(viOpen(rm, resource.toLatin1().constData(), VI_NULL, 3000, &vi), ViStatus(status));
    QCOMPARE(vi, ViSession(0));
}

// A listener whose accept queue is full drops further connection requests,
// so the connect hangs until the open time-out ends it.
void VisaSocketTest::openTimeoutBoundsConnect()
{
    const int lfd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QCOMPARE(::bind(lfd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    QCOMPARE(::listen(lfd, 0), 0);
    socklen_t len = sizeof addr;
    ::getsockname(lfd, reinterpret_cast<sockaddr *>(&addr), &len);
    const QByteArray name = QStringLiteral("TCPIP::127.0.0.1::%1::SOCKET").arg(ntohs(addr.sin_port)).toLatin1();

    std::vector<ViSession> fillers;
    QElapsedTimer timer;
    ViStatus status = VI_SUCCESS;
    qint64 elapsed = 0;
    for (int i = 0; i < 4 && status == VI_SUCCESS; ++i) {
        ViSession vi = 0;
        timer.start();
        status = viOpen(rm, name.constData(), VI_NULL, 300, &vi);
        elapsed = timer.elapsed();
        if (status == VI_SUCCESS)
            fillers.push_back(vi);
    }
    for (ViSession vi : fillers)
        viClose(vi);
    ::close(lfd);
    if (status == VI_SUCCESS)
        QSKIP("this kernel accepts connections beyond the listen backlog");
    // Something is there but did not answer in time.
    QCOMPARE(status, VI_ERROR_TMO);
    QVERIFY2(elapsed >= 250 && elapsed < 2300, QByteArray::number(elapsed));
}

void VisaSocketTest::readsFollowMessageBoundaries_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QList<int>>("counts");     // successive viRead counts
    QTest::addColumn<QByteArrayList>("parts");  // what each read returns
    QTest::addColumn<QList<int>>("statuses");

    const int ok = VI_SUCCESS, max = VI_SUCCESS_MAX_CNT;
    QTest::newRow("two messages") << QByteArray("ABC\nDE\n") << QList<int>{100, 100}
                                  << QByteArrayList{"ABC\n", "DE\n"} << QList<int>{ok, ok};
    QTest::newRow("count reached first") << QByteArray("hello world\n") << QList<int>{5, 100}
                                         << QByteArrayList{"hello", " world\n"} << QList<int>{max, ok};
    QTest::newRow("end on the last byte") << QByteArray("abc\n") << QList<int>{4}
                                          << QByteArrayList{"abc\n"} << QList<int>{ok};
    QTest::newRow("block header reads") << QByteArray("#15a\n\nb\n\n") << QList<int>{2, 1, 15}
                                        << QByteArrayList{"#1", "5", "a\n\nb\n\n"} << QList<int>{max, max, ok};
    QTest::newRow("empty block") << QByteArray("#10\n") << QList<int>{2, 1, 10}
                                 << QByteArrayList{"#1", "0", "\n"} << QList<int>{max, max, ok};
    QTest::newRow("not a block") << QByteArray("1.5,2.5\n") << QList<int>{2, 100}
                                 << QByteArrayList{"1.", "5,2.5\n"} << QList<int>{max, ok};
    // Received straight into the caller's buffer, but not a byte past the end.
    const QByteArray big = "#6100000" + QByteArray(100000, '\n') + "\n";
    QTest::newRow("large block, next message behind") << big + "NEXT\n" << QList<int>{200000, 100}
                                                      << QByteArrayList{big, "NEXT\n"} << QList<int>{ok, ok};
    QTest::newRow("large block read in pieces") << big << QList<int>{8, 70000, 30000, 10}
                                                << QByteArrayList{big.left(8), big.mid(8, 70000), big.mid(70008, 30000), "\n"}
                                                << QList<int>{max, max, max, ok};
}

void VisaSocketTest::readsFollowMessageBoundaries()
{
    QFETCH(QByteArray, reply);
    QFETCH(QList<int>, counts);
    QFETCH(QByteArrayList, parts);
    QFETCH(QList<int>, statuses);

    ScriptedServer server(replies({reply}));
    const ViSession vi = open(server);
    QVERIFY(vi != 0);
    QCOMPARE(writeText(vi, "Q?\n"), VI_SUCCESS);
    for (int i = 0; i < counts.size(); ++i) {
        QByteArray buf(counts[i], '\0');
        ViUInt32 got = 0;
        const ViStatus st = viRead(vi, reinterpret_cast<ViByte *>(buf.data()), ViUInt32(buf.size()), &got);
        QCOMPARE(buf.left(int(got)), parts[i]);
        QCOMPARE(int(st), statuses[i]);
    }
    viClose(vi);
}

void VisaSocketTest::readTimesOutWithinBound()
{
    ScriptedServer server(replies({"partial"})); // no line feed: the message never ends
    const ViSession vi = open(server, 300);
    QVERIFY(vi != 0);
    QCOMPARE(writeText(vi, "Q?\n"), VI_SUCCESS);
    char buf[64];
    ViUInt32 got = 0;
    QElapsedTimer timer;
    timer.start();
    const ViStatus st = viRead(vi, reinterpret_cast<ViByte *>(buf), sizeof buf, &got);
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(st, VI_ERROR_TMO);
    QCOMPARE(QByteArray(buf, int(got)), QByteArray("partial"));
    QVERIFY2(elapsed >= 290 && elapsed < 1300, QByteArray::number(elapsed));
    viClose(vi);
}

void VisaSocketTest::lostConnection()
{
    ScriptedServer server([](ScriptedPeer &peer) { peer.readLine(); }); // hangs up instead of answering
    const ViSession vi = open(server);
    QVERIFY(vi != 0);
    QCOMPARE(writeText(vi, "Q?\n"), VI_SUCCESS);
    char buf[16];
    ViUInt32 got = 0;
    QCOMPARE(viRead(vi, reinterpret_cast<ViByte *>(buf), sizeof buf, &got), VI_ERROR_CONN_LOST);
    QVERIFY(server.waitDone());
    QCOMPARE(writeText(vi, "Q?\n"), VI_ERROR_CONN_LOST);
    QCOMPARE(viRead(vi, reinterpret_cast<ViByte *>(buf), sizeof buf, &got), VI_ERROR_CONN_LOST);
    QCOMPARE(viClose(vi), VI_SUCCESS);
}

// Writing into a connection the peer has reset must give a status; a
// SIGPIPE would end this test process.
void VisaSocketTest::resetPeerDuringLongWrite()
{
    ScriptedServer server([](ScriptedPeer &) { ScriptedPeer::sleepMs(100); }, true);
    const ViSession vi = open(server, 5000);
    QVERIFY(vi != 0);
    const QByteArray big(32 * 1024 * 1024, 'x');
    ViUInt32 sent = 0;
    const ViStatus st = viWrite(vi, reinterpret_cast<const ViByte *>(big.constData()), ViUInt32(big.size()), &sent);
    QCOMPARE(st, VI_ERROR_CONN_LOST);
    QVERIFY(sent < ViUInt32(big.size()));
    QCOMPARE(writeText(vi, "Q?\n"), VI_ERROR_CONN_LOST);
    viClose(vi);
}

void VisaSocketTest::lateReplyIsNotTakenForTheNext()
{
    ScriptedServer server([](ScriptedPeer &peer) {
        peer.readLine();
        ScriptedPeer::sleepMs(400); // past the client's 200 ms time-out
        peer.send("LATE\n");
        if (peer.readLine() == "FRESH?")
            peer.send("FRESH\n");
        peer.waitClientClose();
    });
    const ViSession vi = open(server, 200);
    QVERIFY(vi != 0);
    char reply[64] = {};
    QCOMPARE(viQueryf(vi, "SLOW?\n", "%63c", reply), VI_ERROR_TMO);
    QTest::qWait(600); // the late reply is now waiting in the socket
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, 2000);
    QCOMPARE(viQueryf(vi, "FRESH?\n", "%63c", reply), VI_SUCCESS);
    QCOMPARE(QByteArray(reply), QByteArray("FRESH\n"));
    viClose(vi);
}

void VisaSocketTest::queryfFormats_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("status");
    QTest::addColumn<double>("value"); // -99: left untouched

    QTest::newRow("%d NR1") << QByteArray("%d") << QByteArray("1\n") << int(VI_SUCCESS) << 1.0;
    QTest::newRow("%d NR3") << QByteArray("%d") << QByteArray("+3.50000E+01\n") << int(VI_SUCCESS) << 35.0;
    QTest::newRow("%d fraction") << QByteArray("%d") << QByteArray("3.5\n") << int(VI_ERROR_INV_FMT) << -99.0;
    QTest::newRow("%d text") << QByteArray("%d") << QByteArray("OFF\n") << int(VI_ERROR_INV_FMT) << -99.0;
    QTest::newRow("%lf NR3") << QByteArray("%lf") << QByteArray("+3.50000E+01\n") << int(VI_SUCCESS) << 35.0;
    QTest::newRow("%lf NR2") << QByteArray("%lf") << QByteArray("-0.6\n") << int(VI_SUCCESS) << -0.6;
    QTest::newRow("%lf empty") << QByteArray("%lf") << QByteArray("\n") << int(VI_ERROR_INV_FMT) << -99.0;
    QTest::newRow("%lf too long") << QByteArray("%lf") << QByteArray(300, '1') + "\n" << int(VI_ERROR_INV_FMT) << -99.0;
}

void VisaSocketTest::queryfFormats()
{
    QFETCH(QByteArray, format);
    QFETCH(QByteArray, reply);
    QFETCH(int, status);
    QFETCH(double, value);

    ScriptedServer server(replies({reply, "NEXT\n"}));
    const ViSession vi = open(server);
    QVERIFY(vi != 0);
    double real = -99;
    ViInt32 integer = -99;
    void *target = format == "%d" ? static_cast<void *>(&integer) : static_cast<void *>(&real);
    QCOMPARE(int(viQueryf(vi, "VAL?\n", format.constData(), target)), status);
    QCOMPARE(format == "%d" ? double(integer) : real, value);
    // Whatever the outcome, the whole reply was consumed.
    char next[16] = {};
    QCOMPARE(viQueryf(vi, "NEXT?\n", "%15c", next), VI_SUCCESS);
    QCOMPARE(QByteArray(next), QByteArray("NEXT\n"));
    viClose(vi);
}

void VisaSocketTest::queryfLongReplyIsCut()
{
    const QByteArray longReply = QByteArray(20005, 'a') + "\n";
    ScriptedServer server(replies({longReply, "SHORT\n"}));
    const ViSession vi = open(server);
    QVERIFY(vi != 0);
    QByteArray buf(20001, '\0');
    QCOMPARE(viQueryf(vi, "LONG?\n", "%20000c", buf.data()), VI_SUCCESS_MAX_CNT);
    QCOMPARE(buf.left(20000), QByteArray(20000, 'a'));
    QCOMPARE(buf.at(20000), '\0'); // never past the count
    buf.fill('\0');
    QCOMPARE(viQueryf(vi, "SHORT?\n", "%20000c", buf.data()), VI_SUCCESS);
    QCOMPARE(QByteArray(buf.constData()), QByteArray("SHORT\n"));
    viClose(vi);
}

void VisaSocketTest::queryfRejectsConversions()
{
    ScriptedServer server([](ScriptedPeer &peer) {
        const std::string line = peer.readLine();
        peer.send(line == "SET 50%" ? "1\n" : "0\n");
        peer.waitClientClose();
    });
    const ViSession vi = open(server);
    QVERIFY(vi != 0);
    char reply[16] = {};
    QCOMPARE(viQueryf(vi, "SET %d\n", "%15c", reply), VI_ERROR_NSUP_FMT);
    QCOMPARE(viQueryf(vi, "X\n", "%s", reply), VI_ERROR_NSUP_FMT);
    QCOMPARE(viQueryf(vi, "SET 50%%\n", "%15c", reply), VI_SUCCESS);
    QCOMPARE(QByteArray(reply), QByteArray("1\n"));
    viClose(vi);
}

void VisaSocketTest::readToFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray path = dir.filePath("trace.bin").toLocal8Bit();
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(1000, 'z')); // must be replaced, not appended to
    }
    const QByteArray data("abc\ndef\n\n\x01\x02");
    ScriptedServer server(replies({"#211" + data + "\nEXTRA\n"}));
    const ViSession vi = open(server);
    QVERIFY(vi != 0);
    QCOMPARE(writeText(vi, "DATA?\n"), VI_SUCCESS);
    char header[4];
    ViUInt32 got = 0;
    QCOMPARE(viRead(vi, reinterpret_cast<ViByte *>(header), 4, &got), VI_SUCCESS_MAX_CNT);
    QCOMPARE(viReadToFile(vi, path.constData(), 11 + 10, &got), VI_SUCCESS);
    QCOMPARE(got, ViUInt32(12));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), data + "\n");

    // cnt reached before the end; then a file that cannot be created.
    QCOMPARE(viReadToFile(vi, path.constData(), 3, &got), VI_SUCCESS_MAX_CNT);
    QCOMPARE(got, ViUInt32(3));
    QCOMPARE(viReadToFile(vi, dir.filePath("no/such/dir/x").toLocal8Bit().constData(), 10, &got),
             VI_ERROR_FILE_ACCESS);
    viClose(vi);
}

// An instrument stuck sending (a talk-only mode, a broken firmware) never
// lets the input run dry; dropping the rest of its reply must still end at
// the time-out.
void VisaSocketTest::endlessOutputIsBoundedByTimeout()
{
    ScriptedServer server([](ScriptedPeer &peer) {
        peer.readLine();
        const std::string flood(64 * 1024, 'x');
        QElapsedTimer running;
        running.start();
        while (running.elapsed() < 8000 && peer.send(flood)) {
        }
    });
    const ViSession vi = open(server, 300);
    QVERIFY(vi != 0);
    char reply[8] = {};
    QElapsedTimer timer;
    timer.start();
    const ViStatus st = viQueryf(vi, "FLOOD?\n", "%5c", reply);
    const qint64 elapsed = timer.elapsed();
    viClose(vi); // ends the flood
    QCOMPARE(st, VI_ERROR_TMO);
    QVERIFY2(elapsed < 1300, QByteArray::number(elapsed));
}

// A header claiming a block of about 10^9 bytes, then data that keep coming:
// each read ends at its time-out, whether the data go to memory or to a file
// on a disk slower than the instrument (a pipe drained slowly), where data
// are always waiting in the socket; and the file's data never pile up in
// memory.
void VisaSocketTest::endlessBlockIsBoundedByTimeout_data()
{
    QTest::addColumn<bool>("toFile");
    QTest::newRow("viRead") << false;
    QTest::newRow("viReadToFile, slow disk") << true;
}

void VisaSocketTest::endlessBlockIsBoundedByTimeout()
{
    QFETCH(bool, toFile);
    ScriptedServer server([toFile](ScriptedPeer &peer) {
        peer.readLine();
        peer.send("#9999999999");
        // To memory about 32 MB/s: faster than any reader gives up on, slow
        // enough not to need a huge buffer.
        const std::string piece(64 * 1024, 'x');
        QElapsedTimer running;
        running.start();
        while (running.elapsed() < 10000 && peer.send(piece))
            if (!toFile)
                ScriptedPeer::sleepMs(2);
    });
    const ViSession vi = open(server, 500);
    QVERIFY(vi != 0);
    QCOMPARE(writeText(vi, "DATA?\n"), VI_SUCCESS);
    char header[11];
    ViUInt32 got = 0;
    QCOMPARE(viRead(vi, reinterpret_cast<ViByte *>(header), 11, &got), VI_SUCCESS_MAX_CNT);

    QTemporaryDir dir;
    const QByteArray path = dir.filePath("Trace.tmp").toLocal8Bit();
    std::thread disk;
    std::atomic<qint64> written{0};
    if (toFile) {
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
        disk = std::thread([&path, &written] {
            const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
            std::vector<char> chunk(64 * 1024);
            ssize_t n;
            while (fd >= 0 && (n = ::read(fd, chunk.data(), chunk.size())) > 0) {
                written += n;
                ScriptedPeer::sleepMs(10);
            }
            ::close(fd);
        });
    }
    // Far more room than arrives before the time-out; the pages are only
    // touched where data land.
    std::unique_ptr<ViByte[]> buf(new ViByte[256 * 1024 * 1024]);
    const bool peakReset = resetPeakResidentMemory();
    const qint64 peakBefore = peakResidentMemoryKib();
    QElapsedTimer timer;
    timer.start();
    const ViStatus st = toFile ? viReadToFile(vi, path.constData(), 999999999 + 1, &got)
                               : viRead(vi, buf.get(), 256 * 1024 * 1024, &got);
    const qint64 elapsed = timer.elapsed();
    const qint64 peakGrowth = peakResidentMemoryKib() - peakBefore;
    viClose(vi); // ends the flood
    if (disk.joinable())
        disk.join();
    QCOMPARE(st, VI_ERROR_TMO);
    QVERIFY2(elapsed < 500 + 1000, QByteArray::number(elapsed));
    QVERIFY(got > 0);
    if (toFile) {
        QCOMPARE(written.load(), qint64(got));
        if (peakReset)
            QVERIFY2(peakGrowth < 16 * 1024, QByteArray::number(peakGrowth) + " KiB");
    }
}

// A raw socket has no go-to-local message: nothing may reach the instrument.
void VisaSocketTest::gotoLocalSendsNothing()
{
    ScriptedServer server(replies({"ID\n"}));
    const ViSession vi = open(server);
    QVERIFY(vi != 0);
    QCOMPARE(viGpibControlREN(vi, VI_GPIB_REN_ADDRESS_GTL), VI_SUCCESS);
    char reply[8] = {};
    QCOMPARE(viQueryf(vi, "*IDN?\n", "%7c", reply), VI_SUCCESS);
    QCOMPARE(viClose(vi), VI_SUCCESS);
    QVERIFY(server.waitDone());
    QCOMPARE(QByteArray::fromStdString(server.received()), QByteArray("*IDN?\n"));
}

QTEST_GUILESS_MAIN(VisaSocketTest)
#include "tst_visasocket.moc"
