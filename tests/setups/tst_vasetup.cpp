// The video analyzer's Init button against the simulated bench: with and
// without reset, the threshold as typed, and a failure at every step.
#include "setupbench.h"

using benchsim::Fault;

namespace {

QStringList VaWire(const QString &threshold)
{
    return {
        "*RST;*OPC?",
        "SYST:DISP:UPD ON;*OPC?",
        "CONF:AVDA:TTV:APL:THR " + threshold + ";*OPC?",
        "CONF:AVDA:TTV:APL:HYST 5;*OPC?",
        "INIT:AVDA;*OPC?",
        "SYST:ERR?", // the error queue, once every command has succeeded
        QString::fromLatin1(benchsim::GoToLocalCommand), // logged over VXI-11 and HiSLIP only
    };
}

} // namespace

class TstVaSetup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sequences_data();
    void sequences();
    void failures_data();
    void failures();
    void unopenedResource();

private:
    QTemporaryDir home;
};

void TstVaSetup::initTestCase()
{
    QVERIFY(home.isValid());
    UsePrivateSettings(home);
}

void TstVaSetup::sequences_data()
{
    QTest::addColumn<bool>("reset");
    QTest::addColumn<QString>("threshold");
    QTest::addColumn<bool>("german");
    QTest::addColumn<int>("transport");
    QTest::addColumn<QStringList>("expected");

    const int socket = int(Transport::Socket), vxi11 = int(Transport::Vxi11), hislip = int(Transport::Hislip);
    QTest::newRow("without reset") << false << "35.0" << false << socket << Steps(VaWire("35"), "2-6");
    QTest::newRow("vxi11: with reset") << true << "35.0" << false << vxi11 << VaWire("35");
    QTest::newRow("empty threshold") << false << "" << false << socket << Steps(VaWire("0"), "2-6");
    QTest::newRow("threshold abc") << false << "abc" << false << socket << Steps(VaWire("0"), "2-6");
    QTest::newRow("german: 12.5") << false << "12.5" << true << socket << Steps(VaWire("12.5"), "2-6");
    QTest::newRow("hislip: without reset") << false << "35.0" << false << hislip << Steps(VaWire("35"), "2-7");
}

void TstVaSetup::sequences()
{
    QFETCH(bool, reset);
    QFETCH(QString, threshold);
    QFETCH(bool, german);
    QFETCH(int, transport);
    QFETCH(QStringList, expected);

    const GermanLocale locale(german);
    SetupBench b(benchsim::Scenario(), static_cast<Transport>(transport));
    QVERIFY2(b.started, qPrintable(b.error));
    b.enableVa();
    b.form->VaRst->setChecked(reset);
    b.form->VaThres->setText(threshold);

    b.click(b.form->VaInit);

    QCOMPARE(b.sent("va"), expected);
    QCOMPARE(b.form->VaInit->text(), Ready);
}

void TstVaSetup::failures_data()
{
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("button");

    // A VXI-11 device error fails a step at once on a link that stays up, so
    // the log shows whatever the set-up sends after it, go-to-local included.
    QTest::newRow("reset fails: goes on") << QByteArray("*RST") << "1-7" << Ready;
    QTest::newRow("display update fails") << QByteArray("SYST:DISP:UPD") << "1-2" << Init;
    QTest::newRow("threshold fails") << QByteArray("APL:THR") << "1-3" << Init;
    QTest::newRow("hysteresis fails") << QByteArray("APL:HYST") << "1-4" << Init;
    QTest::newRow("start fails: no local") << QByteArray("INIT:AVDA") << "1-5" << Init;
    QTest::newRow("local fails after all commands") << QByteArray(benchsim::GoToLocalCommand) << "1-7" << Init;
}

void TstVaSetup::failures()
{
    QFETCH(QByteArray, pattern);
    QFETCH(QString, expected);
    QFETCH(QString, button);

    SetupBench b(benchsim::Scenario(), Transport::Vxi11);
    QVERIFY2(b.started, qPrintable(b.error));
    b.bench.addFault(MakeFault("va", pattern, Fault::Kind::DeviceIoTimeout));
    b.enableVa();
    b.form->VaRst->setChecked(true);

    b.click(b.form->VaInit);

    QCOMPARE(b.sent("va"), Steps(VaWire("35"), expected));
    QCOMPARE(b.form->VaInit->text(), button);
}

void TstVaSetup::unopenedResource()
{
    SetupBench b{benchsim::Scenario()};
    QVERIFY2(b.started, qPrintable(b.error));
    b.enableVa();
    b.form->VaIp->setText(RefusedResource());

    b.click(b.form->VaInit);

    QCOMPARE(b.form->VaInit->text(), Init);
    QVERIFY(b.sent("va").isEmpty());
}

QTEST_MAIN(TstVaSetup)
#include "tst_vasetup.moc"
