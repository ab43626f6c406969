// The bench's own instrument models over VXI-11, through the VISA calls the
// application makes: identities, and every injected fault turning into the
// status the session layer relies on, with the link usable afterwards.
#include "sim/bench.h"
#include "visa/visa.h"

#include <QElapsedTimer>
#include <QtTest>

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

} // namespace

class TestVxi11Bench : public QObject {
    Q_OBJECT
private slots:
    void identities_data();
    void identities();
    void faults_data();
    void faults();
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

QTEST_GUILESS_MAIN(TestVxi11Bench)
#include "tst_vxi11bench.moc"
