// The session layer's functions and MainWindow's block reads against a
// scripted instrument on the loopback interface.

#include "app/mainwindow.h"
#include "instruments/visasession.h"
#include "tests/visa/scriptedserver.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <clocale>
#include <cstring>
#include <memory>

class MainWindowProbe {
public:
    static bool ReadArray(MainWindow &w, ViSession hdl, QString cmd, QVector<double> *arr)
    {
        return w.ReadArray(hdl, cmd, arr);
    }
};

namespace {

const QVector<double> Previous{7.0, 8.0};

// Little-endian float32 samples, as "FORM REAL,32" delivers them.
QByteArray encode(const QVector<float> &samples)
{
    QByteArray out(samples.size() * 4, '\0');
    for (int i = 0; i < samples.size(); ++i) {
        quint32 bits;
        std::memcpy(&bits, &samples[i], 4);
        qToLittleEndian(bits, out.data() + 4 * i);
    }
    return out;
}

QVector<double> widened(const QVector<float> &samples)
{
    QVector<double> out;
    for (float f : samples)
        out.append(double(f));
    return out;
}

float fromBits(quint32 bits)
{
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

// Answers the first line with reply; then hangs up or waits for the client.
ScriptedServer::Script answer(const QByteArray &reply, bool hangUp = false)
{
    return [reply, hangUp](ScriptedPeer &peer) {
        if (peer.readLine().empty())
            return;
        peer.send(reply.toStdString());
        if (!hangUp)
            peer.waitClientClose();
    };
}

} // namespace

class ReadArrayTest : public QObject {
    Q_OBJECT

    QTemporaryDir workDir;
    QString savedDir;
    std::unique_ptr<MainWindow> window;

    ViSession open(const ScriptedServer &server, ViUInt32 timeoutMs = 1000)
    {
        ViSession vi = 0;
        if (VisaOpen(window->RmHdl, server.resource(), VI_NULL, 5000, vi) != VI_SUCCESS)
            return 0;
        VisaSetAttribute(vi, VI_ATTR_TMO_VALUE, timeoutMs);
        return vi;
    }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void readArray_data();
    void readArray();
    void writeFailureMeansNoRead();
    void nonBlockReplyStopsAfterHeader();
    void visaQuery_data();
    void visaQuery();
    void numberQueriesUnderGermanLocale();
};

void ReadArrayTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    // "Trace.tmp" is written to the current directory.
    QVERIFY(workDir.isValid());
    savedDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workDir.path()));
    window = std::make_unique<MainWindow>();
    QVERIFY(window->RmHdl != 0);
}

void ReadArrayTest::cleanupTestCase()
{
    window.reset();
    QDir::setCurrent(savedDir);
}

void ReadArrayTest::readArray_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("hangUp");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QVector<double>>("expected"); // on failure: the previous contents

    QVector<float> trace(20000);
    for (int i = 0; i < trace.size(); ++i)
        trace[i] = float(i % 200) * 0.001f - 0.05f;
    // Samples whose bytes include line feeds (0x0A) must not end the message.
    const QVector<float> withLf{fromBits(0x0A0A0A0A), 1.5f, fromBits(0x3F80000A), -0.25f};

    QTest::newRow("80000 data bytes") << "#580000" + encode(trace) + "\n" << false << true << widened(trace);
    QTest::newRow("line feeds in data") << "#216" + encode(withLf) + "\n" << false << true << widened(withLf);
    QTest::newRow("empty block") << QByteArray("#10\n") << false << true << QVector<double>{};
    QTest::newRow("count not a multiple of 4") << "#211" + encode({2.0f, 3.0f}) + "xyz\n" << false << true
                                               << QVector<double>{2.0, 3.0};
    QTest::newRow("ascii numbers") << QByteArray("0.1,0.2,0.3\n") << false << false << Previous;
    QTest::newRow("indefinite length") << "#0" + encode({1.0f}) + "\n" << false << false << Previous;
    QTest::newRow("length digit not a digit") << QByteArray("#A1234\n") << false << false << Previous;
    QTest::newRow("fewer length digits") << QByteArray("#412\n") << false << false << Previous;
    QTest::newRow("length field not digits") << QByteArray("#3x12abcd\n") << false << false << Previous;
    QTest::newRow("data cut short, peer gone") << "#216" + encode({1.0f}) << true << false << Previous;
    QTest::newRow("data cut short, time-out") << "#216" + encode({1.0f}) << false << false << Previous;
    QTest::newRow("empty reply") << QByteArray("\n") << false << false << Previous;
    // More than any trace can be (40 MB): refused before a byte of data is read.
    QTest::newRow("declares 1 GB") << "#9999999999" + encode({1.0f}) + "\n" << false << false << Previous;
    QTest::newRow("one byte over the limit") << "#840000001" + encode({1.0f}) + "\n" << false << false << Previous;
}

void ReadArrayTest::readArray()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, hangUp);
    QFETCH(bool, ok);
    QFETCH(QVector<double>, expected);

    ScriptedServer server(answer(reply, hangUp));
    ViSession vi = open(server, 500);
    QVERIFY(vi != 0);
    QVector<double> arr = Previous;
    QCOMPARE(MainWindowProbe::ReadArray(*window, vi, QStringLiteral("CHAN1:DATA?\n"), &arr), ok);
    QCOMPARE(arr, expected);
    // Never left behind, whatever became of the read.
    QVERIFY(!QFile::exists(QStringLiteral("Trace.tmp")));
    VisaClose(vi);
    QVERIFY(server.waitDone());
    QCOMPARE(QByteArray::fromStdString(server.received()), QByteArray("CHAN1:DATA?\n"));
}

void ReadArrayTest::writeFailureMeansNoRead()
{
    ScriptedServer server(answer("#10\n"));
    ViSession vi = open(server);
    QVERIFY(vi != 0);
    VisaClose(vi);
    QVERIFY(server.waitDone());

    QVector<double> arr = Previous;
    QVERIFY(!MainWindowProbe::ReadArray(*window, 0, QStringLiteral("CHAN1:DATA?\n"), &arr));
    QVERIFY(!MainWindowProbe::ReadArray(*window, vi, QStringLiteral("CHAN1:DATA?\n"), &arr));
    QCOMPARE(arr, Previous);
    QVERIFY(!QFile::exists(QStringLiteral("Trace.tmp")));
}

// Only the 2-byte header read happens; the rest of the reply stays unread.
void ReadArrayTest::nonBlockReplyStopsAfterHeader()
{
    ScriptedServer server(answer("1.5,2.5\n"));
    ViSession vi = open(server);
    QVERIFY(vi != 0);
    QVector<double> arr = Previous;
    QVERIFY(!MainWindowProbe::ReadArray(*window, vi, QStringLiteral("CHAN1:DATA?\n"), &arr));
    QCOMPARE(arr, Previous);
    char rest[32] = {};
    ViUInt32 got = 0;
    QCOMPARE(VisaRead(vi, reinterpret_cast<ViByte *>(rest), sizeof rest - 1, got), VI_SUCCESS);
    QCOMPARE(QByteArray(rest), QByteArray("5,2.5\n"));
    VisaClose(vi);
}

void ReadArrayTest::visaQuery_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("hangUp");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");

    const QString old = QStringLiteral("old");
    QTest::newRow("completion") << QByteArray("1\n") << false << int(VI_SUCCESS) << "1\n";
    QTest::newRow("utf-8") << QByteArray("Orvix \xce\xa9\n") << false << int(VI_SUCCESS) << QString::fromUtf8("Orvix \xce\xa9\n");
    QTest::newRow("up to the first zero byte") << QByteArray("AB\0CD\n", 6) << false << int(VI_SUCCESS) << "AB";
    QTest::newRow("fills the buffer") << QByteArray(19999, 'x') + "\n" << false << int(VI_SUCCESS)
                                      << QString(19999, 'x') + "\n";
    QTest::newRow("longer than the buffer") << QByteArray(20001, 'x') + "\n" << false << int(VI_SUCCESS_MAX_CNT) << old;
    QTest::newRow("time-out") << QByteArray("1") << false << int(VI_ERROR_TMO) << old;
    QTest::newRow("connection lost") << QByteArray() << true << int(VI_ERROR_CONN_LOST) << old;
}

// Only exactly VI_SUCCESS replaces the caller's reply; warnings do not.
void ReadArrayTest::visaQuery()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, hangUp);
    QFETCH(int, status);
    QFETCH(QString, text);

    ScriptedServer server(answer(reply, hangUp));
    ViSession vi = open(server, 300);
    QVERIFY(vi != 0);
    QString got = QStringLiteral("old");
    QCOMPARE(int(VisaQuery(vi, QStringLiteral("*OPC?\n"), got)), status);
    QCOMPARE(got, text);
    VisaClose(vi);
}

// A German locale writes 35,5; instrument replies and their parsing do not follow it.
void ReadArrayTest::numberQueriesUnderGermanLocale()
{
    const QByteArray saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        QSKIP("locale de_DE.UTF-8 is not installed");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    ScriptedServer server([](ScriptedPeer &peer) {
        for (const char *r : {"+3.55000E+01\n", "+1.00000E+00\n", "-0.6\n"}) {
            if (peer.readLine().empty())
                return;
            peer.send(r);
        }
        peer.waitClientClose();
    });
    ViSession vi = open(server);
    double real = 0;
    ViInt32 integer = 0;
    double small = 0;
    const ViStatus s1 = VisaQueryReal(vi, QStringLiteral("READ:AVDA:TTV:VAL?\n"), real);
    const ViStatus s2 = VisaQueryInt(vi, QStringLiteral("READ:AVDA:TTV:STAT?\n"), integer);
    const ViStatus s3 = VisaQueryReal(vi, QStringLiteral("VAL?\n"), small);
    VisaClose(vi);

    std::setlocale(LC_ALL, saved.constData());
    QLocale::setDefault(QLocale::c());
    QCOMPARE(s1, VI_SUCCESS);
    QCOMPARE(real, 35.5);
    QCOMPARE(s2, VI_SUCCESS);
    QCOMPARE(integer, 1);
    QCOMPARE(s3, VI_SUCCESS);
    QCOMPARE(small, -0.6);
}

QTEST_MAIN(ReadArrayTest)
#include "tst_readarray.moc"
