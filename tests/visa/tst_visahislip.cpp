// The VISA C functions over HiSLIP: against an independent server
// (hislip-ref, which we did not write) checked through its message log, and
// against scripted servers that misbehave.

#include "tests/visa/hislippeer.h"
#include "visa/visa.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cstring>

namespace {

ViStatus writeText(ViSession vi, const QByteArray &text)
{
    ViUInt32 ret = 0;
    return viWrite(vi, reinterpret_cast<ViConstBuf>(text.constData()), ViUInt32(text.size()), &ret);
}

ViStatus readInto(ViSession vi, QByteArray *buf, ViUInt32 count)
{
    buf->resize(int(count));
    ViUInt32 ret = 0;
    const ViStatus st = viRead(vi, reinterpret_cast<ViBuf>(buf->data()), count, &ret);
    buf->truncate(int(ret));
    return st;
}

ViStatus query(ViSession vi, const QByteArray &command, QByteArray *reply)
{
    const ViStatus st = writeText(vi, command);
    return st != VI_SUCCESS ? st : readInto(vi, reply, 4096);
}

QByteArray statusDesc(ViSession vi, ViStatus status)
{
    ViChar desc[256] = {};
    viStatusDesc(vi, status, desc);
    return QByteArray(desc);
}

// hislip-ref's CURV? data: n float32 (little-endian), 0.0 for the first
// half, 0.15 after it.
bool isStep(const QByteArray &data, int points)
{
    if (data.size() != 4 * points)
        return false;
    const float low = 0.0f, high = 0.15f;
    for (int i = 0; i < points; i += qMax(1, points / 64)) {
        const float expect = i < points / 2 ? low : high;
        if (std::memcmp(data.constData() + 4 * i, &expect, 4) != 0)
            return false;
    }
    return std::memcmp(data.constData() + data.size() - 4, &high, 4) == 0;
}

// The independent server, on a free port of 127.0.0.1, logging every
// message it receives. It ends when its stdin closes.
class RefServer {
public:
    bool start(const QString &script, const QStringList &options, const QString &log)
    {
        process_.start(QStringLiteral(SYSTEM_PYTHON3),
                       QStringList{script, "--port", "0", "--stdin-eof", "--log", log} + options);
        if (!process_.waitForStarted(5000))
            return false;
        QByteArray line;
        QElapsedTimer t;
        t.start();
        while (!line.contains('\n') && t.elapsed() < 10000) {
            process_.waitForReadyRead(1000);
            line += process_.readAllStandardOutput();
        }
        const int at = line.indexOf("port=");
        port_ = at < 0 ? 0 : line.mid(at + 5).trimmed().toInt();
        log_ = log;
        return port_ > 0;
    }

    ~RefServer()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.closeWriteChannel();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(2000);
        }
    }

    QByteArray resource() const { return "TCPIP0::127.0.0.1::hislip0," + QByteArray::number(port_) + "::INSTR"; }
    QByteArray resourceFor(const char *sub) const
    {
        return "TCPIP0::127.0.0.1::" + QByteArray(sub) + "," + QByteArray::number(port_) + "::INSTR";
    }

    // The messages the server received, oldest first.
    QList<QJsonObject> log() const
    {
        QList<QJsonObject> out;
        QFile f(log_);
        if (f.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : f.readAll().split('\n')) {
                if (!line.isEmpty())
                    out << QJsonDocument::fromJson(line).object();
            }
        }
        return out;
    }

    // Those of one type, by name.
    QList<QJsonObject> log(const QString &name) const
    {
        QList<QJsonObject> out;
        for (const QJsonObject &m : log()) {
            if (m.value("name").toString() == name)
                out << m;
        }
        return out;
    }

private:
    QProcess process_;
    int port_ = 0;
    QString log_;
};

quint32 param(const QJsonObject &m) { return quint32(m.value("param").toDouble()); }

// Closes a session however the test leaves, so that a scripted server
// waiting for the client to go is not kept waiting.
struct SessionGuard {
    ViSession vi = 0;
    ~SessionGuard()
    {
        if (vi != 0)
            viClose(vi);
    }
};

} // namespace

class VisaHislipTest : public QObject {
    Q_OBJECT

    ViSession rm_ = 0;
    QString refScript_;
    QTemporaryDir dir_;

    // A fresh server per test, so that its log holds only that test's messages.
    bool startRef(RefServer &server, const QStringList &options = {})
    {
        static int n = 0;
        return server.start(refScript_, options, dir_.filePath(QStringLiteral("ref%1.log").arg(++n)));
    }

    ViSession open(const QByteArray &resource, ViUInt32 timeoutMs = 5000)
    {
        ViSession vi = 0;
        if (viOpen(rm_, resource.constData(), VI_NULL, 5000, &vi) != VI_SUCCESS)
            return 0;
        viSetAttribute(vi, VI_ATTR_TMO_VALUE, timeoutMs);
        return vi;
    }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void identityAndMessageIds();
    void blocks_data();
    void blocks();
    void longWriteIsSplit();
    void timeoutsAndDeviceClear_data();
    void timeoutsAndDeviceClear();
    void goToLocalAndStatusByte();
    void openFailures();
    void hostileServer_data();
    void hostileServer();
    void openAgainstStrangers();
};

void VisaHislipTest::initTestCase()
{
    QVERIFY(dir_.isValid());
    QCOMPARE(viOpenDefaultRM(&rm_), VI_SUCCESS);
    const QByteArray fromEnv = qgetenv("QUENVIA_HISLIP_REF");
    refScript_ = (fromEnv.isEmpty() ? QStringLiteral(HISLIP_REF_DIR) : QString::fromLocal8Bit(fromEnv))
        + QStringLiteral("/hislip_server.py");
}

void VisaHislipTest::cleanupTestCase() { viClose(rm_); }

#define NEED_REF()                                                                                                     \
    do {                                                                                                               \
        if (!QFile::exists(refScript_))                                                                                \
            QSKIP(qPrintable("the independent HiSLIP server is not at " + refScript_                                 \
                             + " (set QUENVIA_HISLIP_REF to its folder)"));                                          \
    } while (0)

// The opening, two queries, and what went over the wire for them: the
// sub-address, our maximum message size, MessageIDs counting up by two from
// the first, and RMT-delivered once a whole reply was read.
void VisaHislipTest::identityAndMessageIds()
{
    NEED_REF();
    RefServer server;
    QVERIFY(startRef(server));
    const ViSession vi = open(server.resource());
    QVERIFY(vi != 0);
    QByteArray reply;
    QCOMPARE(query(vi, "*IDN?", &reply), VI_SUCCESS);
    QCOMPARE(reply, QByteArray("HislipRef,Server,0,1.0\n"));
    QCOMPARE(query(vi, "*OPC?;*IDN?", &reply), VI_SUCCESS);
    QCOMPARE(reply, QByteArray("1;HislipRef,Server,0,1.0\n"));
    // A short read leaves the rest, and RMT-delivered stays off for it.
    QCOMPARE(writeText(vi, "*IDN?"), VI_SUCCESS);
    QCOMPARE(readInto(vi, &reply, 9), VI_SUCCESS_MAX_CNT);
    QCOMPARE(reply, QByteArray("HislipRef"));
    QCOMPARE(query(vi, "SYST:ERR?", &reply), VI_SUCCESS);
    QCOMPARE(reply, QByteArray("-410,\"Query INTERRUPTED\"\n"));
    QCOMPARE(viClose(vi), VI_SUCCESS);

    const QList<QJsonObject> init = server.log("Initialize");
    QCOMPARE(init.size(), 1);
    QCOMPARE(init[0].value("text").toString(), QStringLiteral("hislip0"));
    QCOMPARE(param(init[0]) >> 16, 0x0100u);
    QCOMPARE(server.log("AsyncInitialize").size(), 1);
    QCOMPARE(server.log("AsyncMaximumMessageSize").size(), 1);
    const QList<QJsonObject> sent = server.log("DataEnd");
    QCOMPARE(sent.size(), 4);
    const QList<quint32> ids{0xFFFFFF00u, 0xFFFFFF02u, 0xFFFFFF04u, 0xFFFFFF06u};
    const QList<int> rmt{0, 1, 1, 0};
    for (int i = 0; i < sent.size(); ++i) {
        QCOMPARE(param(sent[i]), ids[i]);
        QCOMPARE(sent[i].value("control").toInt() & 1, rmt[i]);
    }
    QCOMPARE(server.log("Data").size(), 0);
}

// Blocks read the way the application reads them (2 header bytes, the
// count digits, the data into a file), and whole into memory; the 5 MiB one
// comes in several messages of our 1 MiB maximum and is joined.
void VisaHislipTest::blocks_data()
{
    QTest::addColumn<int>("points");
    QTest::addColumn<bool>("overlapped");
    QTest::newRow("80 kB") << 20000 << false;
    QTest::newRow("5 MiB") << 1310720 << false;
    QTest::newRow("5 MiB, server prefers overlapped") << 1310720 << true;
}

void VisaHislipTest::blocks()
{
    NEED_REF();
    QFETCH(int, points);
    QFETCH(bool, overlapped);
    RefServer server;
    QVERIFY(startRef(server, overlapped ? QStringList{"--overlap"} : QStringList{}));
    const ViSession vi = open(server.resource(), 20000);
    QVERIFY(vi != 0);
    const QByteArray count = QByteArray::number(4 * points);
    QCOMPARE(writeText(vi, "DATA:POIN " + QByteArray::number(points) + ";CURV?"), VI_SUCCESS);
    QByteArray head;
    QVERIFY(viRead(vi, reinterpret_cast<ViBuf>(head.fill(0, 2).data()), 2, nullptr) >= 0);
    QCOMPARE(head, "#" + QByteArray::number(count.size()));
    QCOMPARE(readInto(vi, &head, ViUInt32(count.size())), VI_SUCCESS_MAX_CNT);
    QCOMPARE(head, count);
    const QByteArray file = dir_.filePath("Trace.tmp").toLocal8Bit();
    ViUInt32 got = 0;
    QCOMPARE(viReadToFile(vi, file.constData(), ViUInt32(4 * points + 10), &got), VI_SUCCESS);
    QCOMPARE(got, ViUInt32(4 * points + 1));
    QFile f(QString::fromLocal8Bit(file));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QByteArray data = f.readAll();
    QCOMPARE(data.right(1), QByteArray("\n"));
    data.chop(1);
    QVERIFY(isStep(data, points));

    QByteArray whole;
    QCOMPARE(writeText(vi, "CURV?"), VI_SUCCESS);
    QCOMPARE(readInto(vi, &whole, ViUInt32(8 * points)), VI_SUCCESS);
    QVERIFY(whole.startsWith("#" + QByteArray::number(count.size()) + count));
    QVERIFY(isStep(whole.mid(2 + count.size(), 4 * points), points));
    QCOMPARE(viClose(vi), VI_SUCCESS);
}

// A command longer than the server takes goes in several messages: Data
// ... DataEnd, one MessageID each.
void VisaHislipTest::longWriteIsSplit()
{
    NEED_REF();
    RefServer server;
    QVERIFY(startRef(server, {"--max-message-size", "256"}));
    const ViSession vi = open(server.resource());
    QVERIFY(vi != 0);
    const QByteArray command = "*IDN?" + QByteArray(600, ';') + "*OPC?";
    QByteArray reply;
    QCOMPARE(query(vi, command, &reply), VI_SUCCESS);
    QCOMPARE(reply, QByteArray("HislipRef,Server,0,1.0;1\n"));
    QCOMPARE(query(vi, "*OPC?", &reply), VI_SUCCESS);
    QCOMPARE(reply, QByteArray("1\n"));
    QCOMPARE(viClose(vi), VI_SUCCESS);

    QList<QJsonObject> parts = server.log("Data") + server.log("DataEnd");
    std::sort(parts.begin(), parts.end(), [](const QJsonObject &a, const QJsonObject &b) { return param(a) < param(b); });
    QCOMPARE(parts.size(), 4); // 610 bytes in pieces of 240, then "*OPC?"
    int total = 0;
    for (int i = 0; i < parts.size(); ++i) {
        QCOMPARE(param(parts[i]), 0xFFFFFF00u + 2 * quint32(i));
        QVERIFY(parts[i].value("length").toInt() <= 256 - 16);
        QCOMPARE(parts[i].value("name").toString(), QString(i == 2 || i == 3 ? "DataEnd" : "Data"));
        if (i < 3)
            total += parts[i].value("length").toInt();
    }
    QCOMPARE(total, command.size());
}

// A reply that comes late, or never, ends the read at its time-out; the
// late one is not taken for the next query's answer, and device clear
// brings a silenced instrument back with its MessageIDs started afresh.
void VisaHislipTest::timeoutsAndDeviceClear_data()
{
    QTest::addColumn<QByteArray>("mute");
    QTest::addColumn<bool>("overlapped");
    QTest::newRow("DELAY") << QByteArray("DELAY 1500") << false;
    QTest::newRow("DELAY, overlapped") << QByteArray("DELAY 1500") << true;
    QTest::newRow("SILENT") << QByteArray("SILENT") << false;
}

void VisaHislipTest::timeoutsAndDeviceClear()
{
    NEED_REF();
    QFETCH(QByteArray, mute);
    QFETCH(bool, overlapped);
    RefServer server;
    QVERIFY(startRef(server, overlapped ? QStringList{"--overlap"} : QStringList{}));
    const ViSession vi = open(server.resource(), 400);
    QVERIFY(vi != 0);
    QByteArray reply;
    QCOMPARE(writeText(vi, mute), VI_SUCCESS);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(query(vi, "*IDN?", &reply), VI_ERROR_TMO);
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= 400 && elapsed < 400 + 1000, QByteArray::number(elapsed));
    if (mute.startsWith("DELAY")) {
        // The late identity arrives while this one is awaited.
        viSetAttribute(vi, VI_ATTR_TMO_VALUE, 3000);
        QCOMPARE(query(vi, "DATA:POIN?", &reply), VI_SUCCESS);
        QCOMPARE(reply, QByteArray("20000\n"));
    } else {
        QCOMPARE(query(vi, "*OPC?", &reply), VI_ERROR_TMO);
    }
    QCOMPARE(viClear(vi), VI_SUCCESS);
    QCOMPARE(query(vi, "*OPC?", &reply), VI_SUCCESS);
    QCOMPARE(reply, QByteArray("1\n"));
    QCOMPARE(viClose(vi), VI_SUCCESS);

    QCOMPARE(server.log("AsyncDeviceClear").size(), 1);
    const QList<QJsonObject> complete = server.log("DeviceClearComplete");
    QCOMPARE(complete.size(), 1);
    QCOMPARE(complete[0].value("control").toInt(), overlapped ? 1 : 0);
    QCOMPARE(param(server.log("DataEnd").last()), 0xFFFFFF00u);
}

void VisaHislipTest::goToLocalAndStatusByte()
{
    NEED_REF();
    RefServer server;
    QVERIFY(startRef(server));
    const ViSession vi = open(server.resource());
    QVERIFY(vi != 0);
    QCOMPARE(viGpibControlREN(vi, VI_GPIB_REN_ADDRESS_GTL), VI_SUCCESS);
    // MAV while a reply waits unread; the error-queue bit after a bad header.
    QCOMPARE(writeText(vi, "*IDN?;NO:SUCH"), VI_SUCCESS);
    QTest::qWait(200);
    ViUInt16 stb = 0;
    QCOMPARE(viReadSTB(vi, &stb), VI_SUCCESS);
    QCOMPARE(int(stb), 0x10 | 0x04);
    QByteArray reply;
    QCOMPARE(readInto(vi, &reply, 100), VI_SUCCESS);
    QCOMPARE(viReadSTB(vi, &stb), VI_SUCCESS);
    QCOMPARE(int(stb), 0x04);
    QCOMPARE(viReadSTB(vi, nullptr), VI_ERROR_USER_BUF);
    QCOMPARE(viClose(vi), VI_SUCCESS);

    const QList<QJsonObject> gtl = server.log("AsyncRemoteLocalControl");
    QCOMPARE(gtl.size(), 1);
    QCOMPARE(gtl[0].value("control").toInt(), 6);
    const QList<QJsonObject> status = server.log("AsyncStatusQuery");
    QCOMPARE(status.size(), 2);
    QCOMPARE(param(status[0]), 0xFFFFFF00u);
    QCOMPARE(status[0].value("control").toInt() & 1, 0);
    QCOMPARE(status[1].value("control").toInt() & 1, 1);
}

void VisaHislipTest::openFailures()
{
    NEED_REF();
    RefServer server;
    QVERIFY(startRef(server, {"--max-connections", "3"}));
    ViSession vi = 0;
    QCOMPARE(viOpen(rm_, server.resourceFor("hislip7").constData(), VI_NULL, 3000, &vi), VI_ERROR_RSRC_NFOUND);
    QCOMPARE(vi, ViSession(0));
    // One session takes two connections: a second one finds no room.
    ViSession first = open(server.resource());
    QVERIFY(first != 0);
    QCOMPARE(viOpen(rm_, server.resource().constData(), VI_NULL, 3000, &vi), VI_ERROR_RSRC_BUSY);
    QCOMPARE(viClose(first), VI_SUCCESS);
}

// What a server sends after the query "Q?" (MessageID 0xFFFFFF00), then
// whether it closes, stalls, floods or goes on; what the read returns, and
// what the server hears next: a message type (a DataEnd, the second query,
// is answered), -1 nothing whole, -2 not looked at, -3 not listened.
void VisaHislipTest::hostileServer_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("then"); // close, stall, flood, go on
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("text"); // in viStatusDesc
    QTest::addColumn<int>("next");

    const quint32 id = 0xFFFFFF00u;
    const auto msg = [](uint8_t type, uint8_t control, quint32 param, const std::string &payload) {
        return QByteArray::fromStdString(hislipBytes(type, control, param, payload));
    };
    QByteArray oversized = msg(hislip::DataEnd, 0, id, "");
    oversized[10] = 1; // 2^40 bytes
    const QByteArray halfMessage = msg(hislip::DataEnd, 0, id, std::string(100, 'x')).left(16 + 10);

    QTest::newRow("closes mid-reply") << halfMessage << "close" << int(VI_ERROR_CONN_LOST) << QByteArray() << QByteArray() << -3;
    QTest::newRow("stalls mid-message") << halfMessage << "stall" << int(VI_ERROR_TMO) << QByteArray() << QByteArray() << -3;
    QTest::newRow("oversized header") << oversized << "go on" << int(VI_ERROR_IO) << QByteArray()
                                      << QByteArray("poorly formed") << int(hislip::FatalError);
    QTest::newRow("malformed header") << QByteArray("HX").append(14, '\0') << "go on" << int(VI_ERROR_IO) << QByteArray()
                                      << QByteArray("poorly formed") << int(hislip::FatalError);
    QTest::newRow("answers another message id")
        << msg(hislip::Interrupted, 0, id, "") + msg(hislip::DataEnd, 0, 0x12345678u, "WRONG\n") << "go on"
        << int(VI_ERROR_TMO) << QByteArray() << QByteArray() << int(hislip::DataEnd);
    QTest::newRow("stale data, then the reply")
        << msg(hislip::Data, 0, id - 2, std::string(5000, 's')) + msg(hislip::Data, 0, id, "O")
               + msg(hislip::DataEnd, 0, id, "K\n")
        << "go on" << int(VI_SUCCESS) << QByteArray("OK\n") << QByteArray() << int(hislip::DataEnd);
    QTest::newRow("floods another message id") << msg(hislip::Data, 0, id + 8, std::string(65536, 'f')) << "flood"
                                               << int(VI_ERROR_TMO) << QByteArray() << QByteArray() << -2;
    QTest::newRow("Error") << msg(hislip::Error, hislip::ErrorMessageTooLarge, 0, "too long\x01") << "go on"
                           << int(VI_ERROR_IO) << QByteArray() << QByteArray("message too large (too long?)")
                           << int(hislip::DataEnd);
    QTest::newRow("FatalError") << msg(hislip::FatalError, hislip::FatalUnidentified, 0, "internal fault") << "close"
                                << int(VI_ERROR_CONN_LOST) << QByteArray() << QByteArray("internal fault") << -3;
}

void VisaHislipTest::hostileServer()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, then);
    QFETCH(int, status);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, text);
    QFETCH(int, next);
    std::atomic<int> heard{-3};
    ScriptedServer server([&](ScriptedServer &srv, ScriptedPeer &sync) {
        const auto async = acceptHislipSession(srv, sync);
        if (!async || !readHislip(sync).ok)
            return;
        sync.send(answer.toStdString());
        if (then == "close")
            return;
        if (then == "stall") {
            sync.waitClientClose(10000);
            return;
        }
        QElapsedTimer running;
        running.start();
        while (then == "flood" && running.elapsed() < 5000 && sync.send(answer.toStdString())) {
        }
        const HislipMessage m = readHislip(sync, 3000);
        heard = m.ok ? int(m.header.type) : -1;
        if (m.ok && m.header.type == hislip::DataEnd)
            sendHislip(sync, hislip::DataEnd, 0, m.header.param, "AGAIN\n");
        sync.waitClientClose();
    });
    SessionGuard session;
    QCOMPARE(viOpen(rm_, hislipResource(server).toLatin1().constData(), VI_NULL, 3000, &session.vi), VI_SUCCESS);
    const ViSession vi = session.vi;
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, 600);
    QCOMPARE(writeText(vi, "Q?"), VI_SUCCESS);
    QByteArray got;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(int(readInto(vi, &got, 100)), status);
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed < (status == VI_ERROR_TMO ? 600 + 1000 : 500), QByteArray::number(elapsed));
    if (status >= 0)
        QCOMPARE(got, reply);
    QVERIFY2(statusDesc(vi, status).contains(text), statusDesc(vi, status));
    const bool goesOn = next == int(hislip::DataEnd);
    QByteArray again;
    QCOMPARE(query(vi, "Q?", &again), goesOn ? VI_SUCCESS : status == VI_ERROR_TMO ? VI_ERROR_TMO : VI_ERROR_CONN_LOST);
    if (goesOn)
        QCOMPARE(again, QByteArray("AGAIN\n"));
    QCOMPARE(viClose(vi), VI_SUCCESS);
    session.vi = 0;
    QVERIFY(server.waitDone());
    if (next != -2)
        QCOMPARE(heard.load(), next);
}

// Opening a session where no HiSLIP server answers: one that says nothing
// (the open time-out), one that speaks something else.
void VisaHislipTest::openAgainstStrangers()
{
    ScriptedServer silent([](ScriptedPeer &peer) { peer.waitClientClose(); });
    ScriptedServer raw([](ScriptedPeer &peer) {
        peer.send("HELLO\n");
        peer.waitClientClose();
    });
    ViSession vi = 0;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(viOpen(rm_, hislipResource(silent).toLatin1().constData(), VI_NULL, 500, &vi), VI_ERROR_TMO);
    QVERIFY2(timer.elapsed() < 500 + 1000, QByteArray::number(timer.elapsed()));
    QCOMPARE(viOpen(rm_, hislipResource(raw).toLatin1().constData(), VI_NULL, 3000, &vi), VI_ERROR_RSRC_NFOUND);
    QCOMPARE(vi, ViSession(0));
}

QTEST_GUILESS_MAIN(VisaHislipTest)
#include "tst_visahislip.moc"
