// The bench on its raw sockets: framing as a plain TCP client sees it, and
// every injected fault as our VISA library reports it, within its time-out.
// The same instruments over HiSLIP, as a client on raw sockets sees them.
#include "hislipwire.h"
#include "sim/bench.h"
#include "sim/hislipserver.h"
#include "sim/logline.h"
#include "visa/visa.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtEndian>
#include <QtTest>

#include <atomic>
#include <cstring>

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace benchsim;

namespace {

// Reads until the reply holds at least size bytes or ends in a line feed
// (small replies) within timeoutMs.
QByteArray readReply(QTcpSocket &s, int size = 0, int timeoutMs = 3000)
{
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        out += s.readAll();
        if ((size && out.size() >= size) || (!size && out.endsWith('\n')))
            break;
        s.waitForReadyRead(50);
    }
    return out;
}

Fault fault(const char *instrument, const char *pattern, Fault::Kind kind, int delayMs = 0)
{
    Fault f;
    f.instrument = QLatin1String(instrument);
    f.pattern = pattern;
    f.kind = kind;
    f.delayMs = delayMs;
    return f;
}

// Threads or open descriptors of this process: /proc/self/task or /proc/self/fd.
int entriesIn(const char *dir)
{
    return QDir(QLatin1String(dir)).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
}

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// A blocking client socket: floods are written straight, not through Qt's buffer.
int connectRaw(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval limit{10, 0}; // no test waits longer for an answer
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendRaw(int fd, const QByteArray &bytes)
{
    for (qint64 sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

struct Session {
    ViSession rm = 0, vi = 0;
    ViStatus open(const QString &resource, ViUInt32 tmoMs)
    {
        if (viOpenDefaultRM(&rm) != VI_SUCCESS)
            return VI_ERROR_SYSTEM_ERROR;
        const ViStatus st = viOpen(rm, resource.toLatin1().constData(), VI_NULL, 5000, &vi);
        if (st == VI_SUCCESS)
            viSetAttribute(vi, VI_ATTR_TMO_VALUE, tmoMs);
        return st;
    }
    ~Session()
    {
        if (vi)
            viClose(vi);
        if (rm)
            viClose(rm);
    }
    ViStatus query(const char *cmd, QByteArray *reply = nullptr)
    {
        char buf[20001];
        memset(buf, 0, sizeof buf);
        const ViStatus st = viQueryf(vi, cmd, "%20000c", buf);
        if (reply)
            *reply = QByteArray(buf);
        return st;
    }
    ViStatus write(const QByteArray &cmd)
    {
        return viWrite(vi, reinterpret_cast<ViConstBuf>(cmd.constData()), ViUInt32(cmd.size()), nullptr);
    }
    ViStatus read(QByteArray *out, ViUInt32 count)
    {
        out->resize(int(count));
        ViUInt32 got = 0;
        const ViStatus st = viRead(vi, reinterpret_cast<ViBuf>(out->data()), count, &got);
        out->resize(int(got));
        return st;
    }
};

} // namespace

class TestSimSocket : public QObject {
    Q_OBJECT
private slots:
    void resources();
    void framing();
    void sharedStateAcrossConnections();
    void closeAndNoReply();
    void listener();
    void stopIsPrompt();
    void outOfDescriptorsDoesNotSpin();
    void visaBlockRead();
    void visaFaultStatuses_data();
    void visaFaultStatuses();
    void visaBlockFaults_data();
    void visaBlockFaults();
    void aliveAfterAmplifyingMessage();
    void logBoundedAfterFlood();
    void abandonedWaitsEnd();

    void hislipSession();
    void hislipBlockSplit();
    void hislipDeviceClear();
    void hislipInterrupted();
    void hislipFaults_data();
    void hislipFaults();
    void hislipHostile();
};

void TestSimSocket::resources()
{
    Bench bench{Scenario()};
    QCOMPARE(bench.resource("osc"), QString());
    QString error;
    QVERIFY2(bench.start(&error), qPrintable(error));
    QSet<quint16> ports;
    for (const char *name : {"osc", "sa", "va"}) {
        const quint16 p = bench.port(name);
        QVERIFY(p != 0);
        ports.insert(p);
        QCOMPARE(bench.resource(name), QStringLiteral("TCPIP::127.0.0.1::%1::SOCKET").arg(p));
    }
    QCOMPARE(ports.size(), 3);
    QCOMPARE(bench.resource("dmm"), QString());

    // A port in use is reported, not ignored.
    Scenario clash;
    clash.saPort = bench.port("sa");
    Bench second(clash);
    QVERIFY(!second.start(&error));
    QVERIFY2(error.startsWith("sa on port"), qPrintable(error));
}

void TestSimSocket::framing()
{
    Bench bench{Scenario()};
    QVERIFY(bench.start());
    QTcpSocket s;
    s.connectToHost("127.0.0.1", bench.port("osc"));
    QVERIFY(s.waitForConnected(3000));
    // Two messages in one segment, one message in pieces, CR LF, blank lines.
    s.write("*OPC?\n\n*IDN?\n");
    QByteArray both = readReply(s);
    if (both.count('\n') < 2)
        both += readReply(s);
    QVERIFY2(both.startsWith("1\nOrvix,") && both.count('\n') == 2, both.constData());
    s.write("ACQ:POIN 20000;FORM REA");
    s.flush();
    QTest::qWait(50);
    s.write("L,32;*TRG\r\nCHAN1:DATA?\n");
    const QByteArray block = readReply(s, 7 + 80000 + 1);
    QCOMPARE(block.size(), 7 + 80000 + 1);
    QVERIFY(block.startsWith("#580000"));
    QVERIFY(block.endsWith('\n'));
    QCOMPARE(bench.commands("osc"),
             (QList<QByteArray>{"*OPC?", "*IDN?", "ACQ:POIN 20000;FORM REAL,32;*TRG", "CHAN1:DATA?"}));
    QVERIFY(!bench.log("osc").at(2).unknown);
}

void TestSimSocket::sharedStateAcrossConnections()
{
    // Every Init click opens a new session without closing the old one.
    Bench bench{Scenario()};
    QVERIFY(bench.start());
    QTcpSocket a, b;
    a.connectToHost("127.0.0.1", bench.port("osc"));
    b.connectToHost("127.0.0.1", bench.port("osc"));
    QVERIFY(a.waitForConnected(3000) && b.waitForConnected(3000));
    a.write("ACQ:POIN 1234;*OPC?\n");
    QCOMPARE(readReply(a), QByteArray("1\n"));
    b.write("ACQ:POIN?\n");
    QCOMPARE(readReply(b), QByteArray("1234\n"));
}

void TestSimSocket::closeAndNoReply()
{
    Bench bench{Scenario()};
    bench.addFault(fault("va", "STAT?", Fault::Kind::NoReply));
    bench.addFault(fault("va", "VAL?", Fault::Kind::Close));
    QVERIFY(bench.start());
    QTcpSocket s;
    s.connectToHost("127.0.0.1", bench.port("va"));
    QVERIFY(s.waitForConnected(3000));
    s.write("READ:AVDA:TTV:STAT?\n");
    QCOMPARE(readReply(s, 0, 300), QByteArray());
    // The connection stays usable after a swallowed reply.
    s.write("READ:AVDA:TTV:COUN?\n");
    QCOMPARE(readReply(s), QByteArray("10\n"));
    s.write("READ:AVDA:TTV:VAL?\n");
    QVERIFY(s.state() == QAbstractSocket::UnconnectedState || s.waitForDisconnected(3000));
    QCOMPARE(bench.log("va").last().fault, QString("Close"));
}

void TestSimSocket::listener()
{
    Bench bench{Scenario()};
    std::atomic<int> calls{0};
    bench.setLogListener([&](const LogEntry &e) {
        if (e.instrument == "sa" && e.command == "*IDN?" && e.reply == bench.scenario().saIdn + '\n')
            ++calls;
    });
    QVERIFY(bench.start());
    QTcpSocket s;
    s.connectToHost("127.0.0.1", bench.port("sa"));
    QVERIFY(s.waitForConnected(3000));
    s.write("*IDN?\n*IDN?\n");
    readReply(s, 2 * (bench.scenario().saIdn.size() + 1));
    QCOMPARE(calls.load(), 2);
    bench.clearLog();
    QVERIFY(bench.log("sa").isEmpty());
}

void TestSimSocket::stopIsPrompt()
{
    Scenario sc;
    sc.acquisitionMs = 60000;
    auto bench = std::make_unique<Bench>(sc);
    QVERIFY(bench->start());
    QTcpSocket busy, idle;
    busy.connectToHost("127.0.0.1", bench->port("osc"));
    idle.connectToHost("127.0.0.1", bench->port("sa"));
    QVERIFY(busy.waitForConnected(3000) && idle.waitForConnected(3000));
    busy.write("*TRG;*OPC?\n");
    busy.flush();
    QTRY_COMPARE(bench->log("osc").size(), 1);
    QElapsedTimer timer;
    timer.start();
    bench.reset();
    QVERIFY2(timer.elapsed() < 2000, "stop() waited for a pending reply");
    QVERIFY(busy.waitForDisconnected(3000));
}

// With no descriptor left for accept(), a pending connection keeps the
// listener readable: the accept thread has to wait, not spin on the error.
void TestSimSocket::outOfDescriptorsDoesNotSpin()
{
    Bench bench{Scenario()};
    QVERIFY(bench.start());
    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &old), 0);
    int highest = 0;
    for (const QString &fd : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System))
        highest = qMax(highest, fd.toInt());
    rlimit tight = old;
    tight.rlim_cur = rlim_t(highest + 4);
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &tight), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(bench.port("osc"));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QVector<int> clients;
    for (int fd; (fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0)) >= 0;) {
        clients.append(fd);
        ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to);
    }
    QVERIFY(!clients.isEmpty());
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    QThread::msleep(500);
    getrusage(RUSAGE_SELF, &after);
    setrlimit(RLIMIT_NOFILE, &old);
    for (int fd : clients)
        ::close(fd);
    const auto ms = [](const rusage &u) {
        return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
    };
    QVERIFY2(ms(after) - ms(before) < 250, "the accept thread spun while out of descriptors");
    // Descriptors back: the instrument is reachable again.
    QTcpSocket s;
    s.connectToHost("127.0.0.1", bench.port("osc"));
    QVERIFY(s.waitForConnected(3000));
    s.write("*OPC?\n");
    QCOMPARE(readReply(s), QByteArray("1\n"));
}

void TestSimSocket::visaBlockRead()
{
    Bench bench{Scenario()};
    QVERIFY(bench.start());
    Session s;
    QCOMPARE(s.open(bench.resource("osc"), 2000), VI_SUCCESS);
    QCOMPARE(s.query("ACQ:POIN 20000;FORM REAL,32;*TRG;*OPC?\n"), VI_SUCCESS);
    QCOMPARE(s.write("CHAN1:DATA?\n"), VI_SUCCESS);
    QByteArray header, digits, data;
    QCOMPARE(s.read(&header, 2), VI_SUCCESS_MAX_CNT);
    QCOMPARE(header, QByteArray("#5"));
    QCOMPARE(s.read(&digits, 5), VI_SUCCESS_MAX_CNT);
    QCOMPARE(digits, QByteArray("80000"));
    QCOMPARE(s.read(&data, 80000 + 10), VI_SUCCESS);
    QCOMPARE(data.size(), 80001);
    const QByteArray expected = bench.endpoint("osc")->handle("CHAN1:DATA?").bytes;
    QCOMPARE(data, expected.mid(7));
}

// Each fault on "*OPC?" queries, as the set-ups and the run see them, on a
// raw socket and over HiSLIP.
void TestSimSocket::visaFaultStatuses_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("hislip");
    for (bool hislip : {false, true}) {
        const char *over = hislip ? "hislip: " : "";
        QTest::addRow("%sno reply", over) << int(Fault::Kind::NoReply) << 0 << int(VI_ERROR_TMO) << hislip;
        QTest::addRow("%sclose", over) << int(Fault::Kind::Close) << 0 << int(VI_ERROR_CONN_LOST) << hislip;
        QTest::addRow("%slate, in time", over) << int(Fault::Kind::Late) << 200 << int(VI_SUCCESS) << hislip;
        QTest::addRow("%slate, too late", over) << int(Fault::Kind::Late) << 1500 << int(VI_ERROR_TMO) << hislip;
        QTest::addRow("%sdevice io timeout", over) << int(Fault::Kind::DeviceIoTimeout) << 0 << int(VI_ERROR_TMO)
                                                    << hislip;
        // A raw socket has no device errors; HiSLIP says so at once with an Error message.
        QTest::addRow("%sdevice io error", over)
            << int(Fault::Kind::DeviceIoError) << 0 << int(hislip ? VI_ERROR_IO : VI_ERROR_TMO) << hislip;
    }
}

void TestSimSocket::visaFaultStatuses()
{
    QFETCH(int, kind);
    QFETCH(int, delayMs);
    QFETCH(int, status);
    QFETCH(bool, hislip);
    const ViUInt32 tmo = 700;
    Bench bench{Scenario()};
    Fault f = fault("osc", "CHAN2 ON", Fault::Kind(kind), delayMs);
    f.occurrence = 1;
    bench.addFault(f);
    QVERIFY(bench.start());
    QVERIFY(!hislip || bench.startHislip());
    Session s;
    QCOMPARE(s.open(hislip ? bench.hislipResource("osc") : bench.resource("osc"), tmo), VI_SUCCESS);
    QElapsedTimer timer;
    timer.start();
    QByteArray reply;
    QCOMPARE(int(s.query("CHAN2 ON;*OPC?\n", &reply)), status);
    QVERIFY(timer.elapsed() < tmo + 1000);
    if (status == VI_SUCCESS)
        QCOMPARE(reply, QByteArray("1\n"));
    if (status != VI_ERROR_CONN_LOST) {
        // A late answer to the failed query is never taken for the next one.
        QTest::qWait(delayMs > 0 ? delayMs - int(tmo) + 100 : 0);
        QCOMPARE(s.query("*IDN?\n", &reply), VI_SUCCESS);
        QVERIFY2(reply.startsWith("Orvix"), reply.constData());
    }
}

void TestSimSocket::visaBlockFaults_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<int>("digitsStatus");
    QTest::addColumn<int>("dataStatus");
    QTest::addColumn<bool>("hislip");
    // Header reads of 2 bytes and then of the announced digits, as the block read does.
    for (bool hislip : {false, true}) {
        const char *over = hislip ? "hislip: " : "";
        // A raw socket's short block leaves the read waiting for more; over
        // HiSLIP the message ends with the data it has.
        const int cut = hislip ? int(VI_SUCCESS) : int(VI_ERROR_TMO);
        QTest::addRow("%sdigit 0", over) << int(Fault::Kind::BlockDigit0) << QByteArray("#0") << 0 << 0 << hislip;
        QTest::addRow("%snon-digit", over) << int(Fault::Kind::BlockNonDigit) << QByteArray("#x") << 0 << 0 << hislip;
        QTest::addRow("%sgarbage", over) << int(Fault::Kind::Garbage) << QByteArray("?g") << 0 << 0 << hislip;
        QTest::addRow("%sshort length", over)
            << int(Fault::Kind::BlockShortLength) << QByteArray("#5") << int(VI_SUCCESS) << 0 << hislip;
        QTest::addRow("%sshort data", over)
            << int(Fault::Kind::BlockShortData) << QByteArray("#4") << int(VI_SUCCESS_MAX_CNT) << cut << hislip;
        QTest::addRow("%shuge count", over)
            << int(Fault::Kind::BlockHugeCount) << QByteArray("#9") << int(VI_SUCCESS_MAX_CNT) << cut << hislip;
    }
}

void TestSimSocket::visaBlockFaults()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, header);
    QFETCH(int, digitsStatus);
    QFETCH(int, dataStatus);
    QFETCH(bool, hislip);
    Bench bench{Scenario()};
    bench.addFault(fault("osc", "CHAN1:DATA?", Fault::Kind(kind)));
    QVERIFY(bench.start());
    QVERIFY(!hislip || bench.startHislip());
    Session s;
    QCOMPARE(s.open(hislip ? bench.hislipResource("osc") : bench.resource("osc"), 700), VI_SUCCESS);
    QCOMPARE(s.query("ACQ:POIN 1000;FORM REAL,32;*TRG;*OPC?\n"), VI_SUCCESS);
    QCOMPARE(s.write("CHAN1:DATA?\n"), VI_SUCCESS);
    QByteArray got;
    QCOMPARE(s.read(&got, 2), VI_SUCCESS_MAX_CNT);
    QCOMPARE(got, header);
    if (!digitsStatus)
        return; // the block reader rejects this header
    const int n = header.at(1) - '0';
    QCOMPARE(int(s.read(&got, ViUInt32(n))), digitsStatus);
    if (digitsStatus == VI_SUCCESS) {
        // The message ended inside the length field.
        QVERIFY(got.size() < n);
        return;
    }
    const ViUInt32 count = got.toUInt();
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(int(s.read(&got, count + 10 > 100000 ? 100000 : count + 10)), dataStatus);
    QVERIFY(timer.elapsed() < 700 + 1000);
}

// One short message asking for sixty 40 MB records once built 2.4 GB and
// killed the simulator.
void TestSimSocket::aliveAfterAmplifyingMessage()
{
    Bench bench{Scenario()};
    QVERIFY(bench.start());
    QTcpSocket s;
    s.connectToHost("127.0.0.1", bench.port("osc"));
    QVERIFY(s.waitForConnected(3000));
    s.write("ACQ:POIN 10000000;FORM REAL,32;" + QByteArray("CHAN1:DATA?;").repeated(60) + "\n");
    QCOMPARE(readReply(s, 0, 1000), QByteArray());
    s.write("SYST:ERR?\n");
    QCOMPARE(readReply(s, 0, 10000), QByteArray("-225,\"Out of memory;response too long\"\n"));
    // One record of the same acquisition still comes whole, and the link goes on.
    s.write("CHAN1:DATA?\n");
    const QByteArray block = readReply(s, 40000011, 20000);
    QCOMPARE(block.size(), 40000011);
    QVERIFY(block.startsWith("#840000000") && block.endsWith('\n'));
    s.write("*IDN?\n");
    QVERIFY(readReply(s).startsWith("Orvix,"));
}

// Three hundred messages of a megabyte once kept 300 MB in the log.
void TestSimSocket::logBoundedAfterFlood()
{
    Bench bench{Scenario()};
    QVERIFY(bench.start());
    const int fd = connectRaw(bench.port("osc"));
    QVERIFY(fd >= 0);
    const QByteArray big = QByteArray(MaxProgramMessage - 1, 'X') + '\n';
    const qint64 before = residentKiB();
    for (int i = 0; i < 100; ++i)
        QVERIFY(sendRaw(fd, big));
    QVERIFY(sendRaw(fd, "*OPC?\n"));
    char answer[2] = {};
    QCOMPARE(::recv(fd, answer, 2, MSG_WAITALL), ssize_t(2)); // every message handled
    const qint64 grown = residentKiB() - before;
    ::close(fd);
    const QVector<LogEntry> log = bench.log("osc");
    QCOMPARE(log.size(), 101);
    for (int i = 0; i < 100; ++i) {
        QCOMPARE(log[i].command, big.left(LogCommandBytes));
        QCOMPARE(log[i].commandSize, big.size() - 1);
        QVERIFY(log[i].unknown);
    }
    QVERIFY(logLine(log[0]).contains("\"commandSize\":1048575"));
    QVERIFY(!logLine(log[100]).contains("commandSize"));
#ifndef __SANITIZE_ADDRESS__ // the sanitizer holds freed memory in quarantine
    QVERIFY2(grown < 40 * 1024, qPrintable(QStringLiteral("grew by %1 KiB").arg(grown)));
#else
    Q_UNUSED(grown);
#endif
}

// A client that gives up on a late reply and hangs up takes the server's
// thread and socket with it, instead of leaving them for the hour.
void TestSimSocket::abandonedWaitsEnd()
{
    Bench bench{Scenario()};
    bench.addFault(fault("osc", "*IDN?", Fault::Kind::Late, 3600000));
    bench.addFault(fault("osc", "*OPC?", Fault::Kind::Late, 300));
    QVERIFY(bench.start());
    const int threads = entriesIn("/proc/self/task");
    const int fds = entriesIn("/proc/self/fd");
    QVector<int> clients;
    for (int i = 0; i < 20; ++i) {
        clients.append(connectRaw(bench.port("osc")));
        QVERIFY(clients.last() >= 0 && sendRaw(clients.last(), "*IDN?\n"));
    }
    QTRY_COMPARE(bench.log("osc").size(), 20);
    QVERIFY(entriesIn("/proc/self/task") >= threads + 20);
    for (int fd : clients)
        ::close(fd);
    QTRY_COMPARE_WITH_TIMEOUT(entriesIn("/proc/self/task"), threads, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(entriesIn("/proc/self/fd"), fds, 5000);
    // A client that only shuts its sending side still gets a reply due soon.
    const int halfClosed = connectRaw(bench.port("osc"));
    QVERIFY(sendRaw(halfClosed, "*OPC?\n"));
    ::shutdown(halfClosed, SHUT_WR);
    char answer[3] = {};
    QCOMPARE(::recv(halfClosed, answer, 3, MSG_WAITALL), ssize_t(2));
    QCOMPARE(QByteArray(answer), QByteArray("1\n"));
    ::close(halfClosed);
    // The instrument answers the next client (without the fault's hour).
    bench.clearFaults();
    QTcpSocket s;
    s.connectToHost("127.0.0.1", bench.port("osc"));
    QVERIFY(s.waitForConnected(3000));
    s.write("*OPC?\n");
    QCOMPARE(readReply(s), QByteArray("1\n"));
}

namespace {

// The HiSLIP port of a bench's resources ("TCPIP::127.0.0.1::hislip0,<port>::INSTR").
quint16 hislipPort(const Bench &bench)
{
    static const QRegularExpression form(QStringLiteral("^TCPIP::127\\.0\\.0\\.1::hislip0,(\\d+)::INSTR$"));
    return quint16(form.match(bench.hislipResource("osc")).captured(1).toUInt());
}

// What a server sends first on a new connection that sent bytes, and
// whether it then closes that connection.
HislipMessage firstAnswer(quint16 port, const QByteArray &bytes, bool *closed)
{
    const int fd = HislipWire::connectTo(port);
    HislipWire::sendBytes(fd, bytes);
    const HislipMessage m = HislipWire::receive(fd);
    *closed = HislipWire::closedByPeer(fd);
    ::close(fd);
    return m;
}

bool isMessage(const HislipMessage &m, uint8_t type, uint8_t control)
{
    return m.ok && m.type == type && m.control == control;
}

} // namespace

// A session as a client sees it on the wire: both channels, the sizes, a
// message in two parts, replies with their MessageIDs, status, remote/local,
// locks, and an Error for what the server does not know.
void TestSimSocket::hislipSession()
{
    Bench bench{Scenario()};
    QVERIFY(bench.start());
    QCOMPARE(bench.hislipResource("osc"), QString());
    QString error;
    QVERIFY2(bench.startHislip(&error), qPrintable(error));
    const quint16 port = hislipPort(bench);
    QVERIFY(port != 0);
    QCOMPARE(bench.hislipResource("sa"), QStringLiteral("TCPIP::127.0.0.1::hislip1,%1::INSTR").arg(port));
    QCOMPARE(bench.hislipResource("va"), QStringLiteral("TCPIP::127.0.0.1::hislip2,%1::INSTR").arg(port));
    QCOMPARE(bench.hislipResource("dmm"), QString());

    HislipWire w, other;
    const int id = w.open(port, "hislip1");
    QVERIFY(id > 0);
    const int otherId = other.open(port, "HISLIP1"); // keywords are case-insensitive
    QVERIFY(otherId > 0 && otherId != id);
    QCOMPARE(w.setMaxMessageSize(1 << 16), quint64(1) << 20);

    // A program message in two parts; the reply carries the MessageID of its DataEnd.
    QVERIFY(HislipWire::send(w.sync, hislip::Data, 0, w.nextId, "*ID"));
    QVERIFY(HislipWire::send(w.sync, hislip::DataEnd, 0, w.nextId + hislip::MessageIdStep, "N?\n"));
    w.nextId += 2 * hislip::MessageIdStep;
    uint32_t replyId = 0;
    QCOMPARE(w.readReply(nullptr, &replyId), bench.scenario().saIdn + '\n');
    QCOMPARE(replyId, hislip::FirstMessageId + hislip::MessageIdStep);
    // Message available until the client says it has the reply.
    QVERIFY(HislipWire::send(w.async, hislip::AsyncStatusQuery, 0, replyId));
    QVERIFY(isMessage(HislipWire::receive(w.async), hislip::AsyncStatusResponse, 0x10));
    QVERIFY(HislipWire::send(w.async, hislip::AsyncStatusQuery, hislip::RmtDelivered, replyId));
    QVERIFY(isMessage(HislipWire::receive(w.async), hislip::AsyncStatusResponse, 0));
    // A command gets no reply: the next reply is the query's.
    QVERIFY(w.write("*CLS\n"));
    QCOMPARE(w.query("*OPC?\r\n"), QByteArray("1\n"));

    // Go-to-local reaches the log as over VXI-11; a code beyond 6 is an error.
    QVERIFY(HislipWire::send(w.async, hislip::AsyncRemoteLocalControl, hislip::GoToLocal, w.lastId));
    QVERIFY(isMessage(HislipWire::receive(w.async), hislip::AsyncRemoteLocalResponse, 0));
    QVERIFY(HislipWire::send(w.async, hislip::AsyncRemoteLocalControl, hislip::EnableRemote, w.lastId));
    QVERIFY(isMessage(HislipWire::receive(w.async), hislip::AsyncRemoteLocalResponse, 0));
    QVERIFY(HislipWire::send(w.async, hislip::AsyncRemoteLocalControl, 9, w.lastId));
    QVERIFY(isMessage(HislipWire::receive(w.async), hislip::Error, hislip::ErrorBadControlCode));

    // Locks are granted, counted and released.
    QVERIFY(HislipWire::send(w.async, hislip::AsyncLock, 1, 1000));
    QVERIFY(isMessage(HislipWire::receive(w.async), hislip::AsyncLockResponse, 1));
    QVERIFY(HislipWire::send(other.async, hislip::AsyncLock, 1, 1000, "shared"));
    QVERIFY(isMessage(HislipWire::receive(other.async), hislip::AsyncLockResponse, 1));
    QVERIFY(HislipWire::send(w.async, hislip::AsyncLockInfo, 0, 0));
    const HislipMessage info = HislipWire::receive(w.async);
    QVERIFY(isMessage(info, hislip::AsyncLockInfoResponse, 1));
    QCOMPARE(info.param, 2u);
    QVERIFY(HislipWire::send(w.async, hislip::AsyncLock, 0, 0));
    QVERIFY(isMessage(HislipWire::receive(w.async), hislip::AsyncLockResponse, 1));
    QVERIFY(HislipWire::send(w.async, hislip::AsyncLock, 0, 0));
    QVERIFY(isMessage(HislipWire::receive(w.async), hislip::AsyncLockResponse, 3));

    // Trigger is taken silently; unknown and vendor types get an Error and
    // the session goes on.
    QVERIFY(HislipWire::send(w.sync, hislip::Trigger, 0, w.nextId));
    w.nextId += hislip::MessageIdStep;
    QVERIFY(HislipWire::send(w.sync, 40, 0, 0));
    QVERIFY(isMessage(HislipWire::receive(w.sync), hislip::Error, hislip::ErrorBadMessageType));
    QVERIFY(HislipWire::send(w.async, 200, 0, 0));
    QVERIFY(isMessage(HislipWire::receive(w.async), hislip::Error, hislip::ErrorBadVendorMessage));
    QCOMPARE(w.query("*OPC?\n"), QByteArray("1\n"));
    QCOMPARE(bench.commands("sa"), (QList<QByteArray>{"*IDN?", "*CLS", "*OPC?", GoToLocalCommand, "*OPC?"}));

    // A session has one asynchronous channel.
    bool closed = false;
    const HislipMessage again = firstAnswer(port, HislipWire::encode(hislip::AsyncInitialize, 0, uint32_t(id)), &closed);
    QVERIFY(isMessage(again, hislip::FatalError, hislip::FatalBadInitialization));
    QVERIFY(closed);
}

// A block longer than the client's maximum message size comes in several
// messages, each within it; a program message longer than the server's is
// dropped with an Error.
void TestSimSocket::hislipBlockSplit()
{
    Bench bench{Scenario()};
    QVERIFY(bench.start() && bench.startHislip());
    HislipWire w;
    QVERIFY(w.open(hislipPort(bench)) > 0);
    QCOMPARE(w.setMaxMessageSize(4096), quint64(1) << 20);
    QCOMPARE(w.query("ACQ:POIN 20000;FORM REAL,32;*TRG;*OPC?\n"), QByteArray("1\n"));
    QVERIFY(w.write("CHAN1:DATA?\n"));
    QByteArray block;
    int parts = 0;
    for (bool end = false; !end; ++parts) {
        const HislipMessage m = HislipWire::receive(w.sync);
        QVERIFY(m.ok && (m.type == hislip::Data || m.type == hislip::DataEnd));
        QCOMPARE(m.param, w.lastId);
        QVERIFY(int(hislip::HeaderSize) + m.payload.size() <= 4096);
        block += m.payload;
        end = m.type == hislip::DataEnd;
    }
    QCOMPARE(block.size(), 7 + 80000 + 1);
    QCOMPARE(parts, (block.size() + 4079) / 4080);
    QCOMPARE(bench.commands("osc"), (QList<QByteArray>{"ACQ:POIN 20000;FORM REAL,32;*TRG;*OPC?", "CHAN1:DATA?"}));
    QCOMPARE(block, bench.endpoint("osc")->handle("CHAN1:DATA?").bytes);

    // However small a maximum a client names, replies still go out.
    w.setMaxMessageSize(0);
    QVERIFY(w.query("*IDN?\n").startsWith("Orvix,"));

    QVERIFY(HislipWire::send(w.sync, hislip::DataEnd, 0, w.nextId, QByteArray((1 << 20) + 1, 'X')));
    w.nextId += hislip::MessageIdStep;
    QVERIFY(isMessage(HislipWire::receive(w.sync, 10000), hislip::Error, hislip::ErrorMessageTooLarge));
    QCOMPARE(w.query("*OPC?\n"), QByteArray("1\n"));
}

// Device clear drops a reply that is waiting and whatever the client sent
// before DeviceClearComplete; MessageIDs start again; the mode asked for
// is granted.
void TestSimSocket::hislipDeviceClear()
{
    Bench bench{Scenario()};
    bench.addFault(fault("osc", "*OPC?", Fault::Kind::Late, 3000));
    QVERIFY(bench.start() && bench.startHislip());
    HislipWire w;
    QVERIFY(w.open(hislipPort(bench)) > 0);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(w.write("*OPC?\n"));
    QTRY_COMPARE(bench.log("osc").size(), 1);
    QVERIFY(HislipWire::send(w.async, hislip::AsyncDeviceClear, 0, 0));
    QVERIFY(isMessage(HislipWire::receive(w.async), hislip::AsyncDeviceClearAcknowledge, 0));
    QVERIFY(w.write("*CLS\n"));
    QVERIFY(HislipWire::send(w.sync, hislip::DeviceClearComplete, 0, 0));
    QVERIFY(isMessage(HislipWire::receive(w.sync), hislip::DeviceClearAcknowledge, 0));
    w.nextId = hislip::FirstMessageId;
    uint32_t id = 0;
    QVERIFY(w.write("*IDN?\n"));
    QVERIFY(w.readReply(nullptr, &id).startsWith("Orvix,"));
    QCOMPARE(id, hislip::FirstMessageId);
    QVERIFY2(timer.elapsed() < 3000, "the clear waited for the late reply");
    QCOMPARE(bench.commands("osc"), (QList<QByteArray>{"*OPC?", "*IDN?"}));

    QVERIFY(HislipWire::send(w.async, hislip::AsyncDeviceClear, 0, 0));
    QVERIFY(isMessage(HislipWire::receive(w.async), hislip::AsyncDeviceClearAcknowledge, 0));
    QVERIFY(HislipWire::send(w.sync, hislip::DeviceClearComplete, hislip::Overlapped, 0));
    QVERIFY(isMessage(HislipWire::receive(w.sync), hislip::DeviceClearAcknowledge, hislip::Overlapped));
}

// Synchronized mode: a message that comes before a late reply was sent
// drops that reply, and both channels say so with the new MessageID.
// Overlapped mode: both replies come, in order.
void TestSimSocket::hislipInterrupted()
{
    Bench bench{Scenario()};
    bench.addFault(fault("osc", "*IDN?", Fault::Kind::Late, 800));
    QVERIFY(bench.start() && bench.startHislip());
    HislipWire w;
    QVERIFY(w.open(hislipPort(bench)) > 0);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(w.write("*IDN?\n"));
    QTRY_COMPARE(bench.log("osc").size(), 1);
    QVERIFY(w.write("*OPC?\n"));
    const HislipMessage sync = HislipWire::receive(w.sync);
    QVERIFY(isMessage(sync, hislip::Interrupted, 0));
    QCOMPARE(sync.param, w.lastId);
    const HislipMessage async = HislipWire::receive(w.async);
    QVERIFY(isMessage(async, hislip::AsyncInterrupted, 0));
    QCOMPARE(async.param, w.lastId);
    uint32_t id = 0;
    QCOMPARE(w.readReply(nullptr, &id), QByteArray("1\n"));
    QCOMPARE(id, w.lastId);
    QVERIFY(timer.elapsed() < 800);

    QVERIFY(HislipWire::send(w.async, hislip::AsyncDeviceClear, 0, 0));
    QVERIFY(HislipWire::receive(w.async).ok);
    QVERIFY(HislipWire::send(w.sync, hislip::DeviceClearComplete, hislip::Overlapped, 0));
    QVERIFY(isMessage(HislipWire::receive(w.sync), hislip::DeviceClearAcknowledge, hislip::Overlapped));
    w.nextId = hislip::FirstMessageId;
    QVERIFY(w.write("*IDN?\n") && w.write("*OPC?\n"));
    QVERIFY(w.readReply(nullptr, &id).startsWith("Orvix,"));
    QCOMPARE(id, hislip::FirstMessageId);
    QCOMPARE(w.readReply(nullptr, &id), QByteArray("1\n"));
    QCOMPARE(id, w.lastId);
}

// Each fault on a query (or on go-to-local) as the wire shows it. reply:
// the payload expected, "" for nothing, "!error" for an Error message,
// "!closed" for both channels closed.
void TestSimSocket::hislipFaults_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("goToLocal");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("no reply") << int(Fault::Kind::NoReply) << 0 << false << QByteArray();
    QTest::newRow("close") << int(Fault::Kind::Close) << 0 << false << QByteArray("!closed");
    QTest::newRow("late") << int(Fault::Kind::Late) << 300 << false << QByteArray("1\n");
    QTest::newRow("garbage") << int(Fault::Kind::Garbage) << 0 << false << QByteArray("?garbage?\n");
    QTest::newRow("device io error") << int(Fault::Kind::DeviceIoError) << 0 << false << QByteArray("!error");
    QTest::newRow("device io timeout") << int(Fault::Kind::DeviceIoTimeout) << 0 << false << QByteArray();
    QTest::newRow("go-to-local, io error") << int(Fault::Kind::DeviceIoError) << 0 << true << QByteArray("!error");
    QTest::newRow("go-to-local, io timeout") << int(Fault::Kind::DeviceIoTimeout) << 0 << true << QByteArray();
    QTest::newRow("go-to-local, close") << int(Fault::Kind::Close) << 0 << true << QByteArray("!closed");
    QTest::newRow("go-to-local, garbage") << int(Fault::Kind::Garbage) << 0 << true << QByteArray("answered");
}

void TestSimSocket::hislipFaults()
{
    QFETCH(int, kind);
    QFETCH(int, delayMs);
    QFETCH(bool, goToLocal);
    QFETCH(QByteArray, reply);
    Bench bench{Scenario()};
    bench.addFault(fault("osc", goToLocal ? GoToLocalCommand : "CHAN2 ON", Fault::Kind(kind), delayMs));
    QVERIFY(bench.start() && bench.startHislip());
    HislipWire w;
    QVERIFY(w.open(hislipPort(bench)) > 0);
    QElapsedTimer timer;
    timer.start();
    const int channel = goToLocal ? w.async : w.sync;
    if (goToLocal)
        QVERIFY(HislipWire::send(w.async, hislip::AsyncRemoteLocalControl, hislip::GoToLocal, 0));
    else
        QVERIFY(w.write("CHAN2 ON;*OPC?\n"));
    if (reply == "!closed") {
        QVERIFY(HislipWire::closedByPeer(w.sync) && HislipWire::closedByPeer(w.async));
        return;
    }
    const HislipMessage m = HislipWire::receive(channel, reply.isEmpty() ? 300 : 3000);
    if (reply.isEmpty()) {
        QVERIFY(!m.ok);
    } else if (reply == "!error") {
        QVERIFY(isMessage(m, hislip::Error, hislip::ErrorUnidentified));
        QVERIFY(!m.payload.isEmpty());
    } else if (goToLocal) {
        QVERIFY(isMessage(m, hislip::AsyncRemoteLocalResponse, 0));
    } else {
        QVERIFY(isMessage(m, hislip::DataEnd, 0));
        QCOMPARE(m.param, w.lastId);
        QCOMPARE(m.payload, reply);
        QVERIFY(timer.elapsed() >= delayMs);
    }
    // The session goes on, and the next reply is the next query's.
    uint32_t id = 0;
    QVERIFY(w.write("*IDN?\n"));
    QVERIFY(w.readReply(nullptr, &id).startsWith("Orvix,"));
    QCOMPARE(id, w.lastId);
    QVERIFY(!bench.log("osc").first().fault.isEmpty());
}

// What a hostile or broken client sends: each gets its FatalError (or
// Error) and the server goes on, holding no thread or descriptor for it.
void TestSimSocket::hislipHostile()
{
    Bench bench{Scenario()};
    HislipServer::Options options;
    options.maxMessageSize = 4096;
    HislipServer server({bench.endpoint("osc")}, options);
    QVERIFY(server.start());
    const quint16 port = server.port();
    QCOMPARE(server.resource(0), QStringLiteral("TCPIP::127.0.0.1::hislip0,%1::INSTR").arg(port));
    const int threads = entriesIn("/proc/self/task");
    const int fds = entriesIn("/proc/self/fd");
    const uint32_t version = uint32_t(hislip::ProtocolVersion) << 16;
    bool closed = false;

    QVERIFY(isMessage(firstAnswer(port, "XS" + QByteArray(14, '\0'), &closed), hislip::FatalError,
                      hislip::FatalBadHeader));
    QVERIFY(closed);
    QVERIFY(isMessage(firstAnswer(port, HislipWire::encode(hislip::DataEnd, 0, 0, "*IDN?\n"), &closed),
                      hislip::FatalError, hislip::FatalBadInitialization));
    QVERIFY(closed);
    for (const QByteArray &sub : {QByteArray("hislip1"), QByteArray("inst0"), QByteArray("hislip+0"),
                                  QByteArray("hislip0x"), QByteArray(5000, 'h')}) {
        const HislipMessage m = firstAnswer(port, HislipWire::encode(hislip::Initialize, 0, version, sub), &closed);
        QVERIFY2(m.ok && m.type == hislip::FatalError && closed, sub.left(20).constData());
    }
    QVERIFY(isMessage(firstAnswer(port, HislipWire::encode(hislip::AsyncInitialize, 0, 4242), &closed),
                      hislip::FatalError, hislip::FatalBadInitialization));
    QVERIFY(closed);

    // Data before the asynchronous channel exists.
    const int lone = HislipWire::connectTo(port);
    QVERIFY(HislipWire::send(lone, hislip::Initialize, 0, version, "hislip0"));
    QVERIFY(isMessage(HislipWire::receive(lone), hislip::InitializeResponse, 0));
    QVERIFY(HislipWire::send(lone, hislip::DataEnd, 0, hislip::FirstMessageId, "*IDN?\n"));
    QVERIFY(isMessage(HislipWire::receive(lone), hislip::FatalError, hislip::FatalNoChannels));
    QVERIFY(HislipWire::closedByPeer(lone));
    ::close(lone);

    // A length no server reads: fatal, and both channels close.
    HislipWire w;
    QVERIFY(w.open(port) > 0);
    QVERIFY(HislipWire::sendBytes(w.sync, HislipWire::encode(hislip::DataEnd, 0, w.nextId, {}, quint64(1) << 40)));
    QVERIFY(isMessage(HislipWire::receive(w.sync), hislip::FatalError, hislip::FatalBadHeader));
    QVERIFY(HislipWire::closedByPeer(w.sync) && HislipWire::closedByPeer(w.async));
    // A bad prologue within a session likewise.
    QVERIFY(w.open(port) > 0);
    QVERIFY(HislipWire::sendBytes(w.async, "HX" + QByteArray(14, '\0')));
    QVERIFY(isMessage(HislipWire::receive(w.async), hislip::FatalError, hislip::FatalBadHeader));
    QVERIFY(HislipWire::closedByPeer(w.sync) && HislipWire::closedByPeer(w.async));

    // A header in pieces is put together; a message over the maximum is
    // dropped with an Error, and the session goes on.
    QVERIFY(w.open(port) > 0);
    const QByteArray query = HislipWire::encode(hislip::DataEnd, 0, w.nextId, "*OPC?\n");
    for (const QByteArray &piece : {query.left(1), query.mid(1, 8), query.mid(9)}) {
        QVERIFY(HislipWire::sendBytes(w.sync, piece));
        QTest::qWait(20);
    }
    QCOMPARE(w.readReply(), QByteArray("1\n"));
    w.nextId += hislip::MessageIdStep;
    QVERIFY(HislipWire::send(w.sync, hislip::DataEnd, 0, w.nextId, QByteArray(4097, 'X')));
    w.nextId += hislip::MessageIdStep;
    QVERIFY(isMessage(HislipWire::receive(w.sync), hislip::Error, hislip::ErrorMessageTooLarge));
    QCOMPARE(w.query("*OPC?\n"), QByteArray("1\n"));
    QCOMPARE(server.sessionCount(), 1);
    w.close();
    QTRY_COMPARE(server.sessionCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(entriesIn("/proc/self/task"), threads, 5000);

    // More clients than the server serves are told so.
    QVector<int> idle;
    for (int i = 0; i < MaxConnections; ++i)
        idle.append(HislipWire::connectTo(port));
    QTRY_COMPARE_WITH_TIMEOUT(entriesIn("/proc/self/task"), threads + MaxConnections, 5000);
    QVERIFY(isMessage(firstAnswer(port, QByteArray(), &closed), hislip::FatalError, hislip::FatalTooManyClients));
    for (int fd : idle)
        ::close(fd);
    QTRY_COMPARE_WITH_TIMEOUT(entriesIn("/proc/self/task"), threads, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(entriesIn("/proc/self/fd"), fds, 5000);
    QVERIFY(w.open(port) > 0);
    QCOMPARE(w.query("*OPC?\n"), QByteArray("1\n"));
}

QTEST_MAIN(TestSimSocket)
#include "tst_simsocket.moc"
