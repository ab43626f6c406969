// The oscilloscope's Init button against the simulated bench: the exact
// commands of both types, the trigger level as typed, and every kind of
// failing step.
#include "setupbench.h"

using benchsim::Fault;

namespace {

QStringList OrvixWire(const QString &level)
{
    return {
        "ACQ:POIN:AUTO 1;*OPC?",
        "TIM:RANG 1.0;*OPC?",
        "ACQ:POIN 20000;*OPC?",
        "EXP:WAV:RAW ON;*OPC?",
        "CHAN1 ON;STOP;*OPC?",
        "SYST:DISP:UPD ON;*OPC?",
        "CHAN1 ON;CHAN1:RANG 0.5;*OPC?",
        "CHAN1:POS -2.0;CHAN1:COUP DC;*OPC?",
        "CHAN2 ON;CHAN2:RANG 0.5;*OPC?",
        "CHAN2:POS -2.0;CHAN2:COUP DC;*OPC?",
        "CHAN3 ON;CHAN3:RANG 0.5;*OPC?",
        "CHAN3:POS -3.0;CHAN3:COUP DC;*OPC?",
        "CHAN3:TYPE RMS;*OPC?",
        "TIM:SCAL 100e-3;TIM:REF 50;TRIG3:OFFS:LIM 0;*OPC?",
        "CHAN3:SCAL 200e-3;*OPC?",
        "CHAN:DIGF:CUT 100e3;*OPC?",
        "CHAN1:BAND B20;*OPC?",
        "TRIG1:LEV1 " + level + ";*OPC?",
        "TRIG1:MODE NORM;*OPC?",
        "TRIG1:ANED:NREJ ON;*OPC?",
        "TRIG1:HOLD:MODE TIME;*OPC?",
        "TRIG1:HOLD:TIME 1.3;*OPC?",
        "TRIG1:OUT:STAT ON;*OPC?",
        "FORM ASC;*OPC?",
        "EXP:WAV:INCX OFF;*OPC?",
        "RUN;*OPC?",
    };
}

QStringList BenloWire(const QString &level)
{
    return {
        "TRIG:B:ENAB OFF;*OPC?",
        "TRIG:A:TYPE EDGE;*OPC?",
        "TRIG:A:SOUR CH1;*OPC?",
        "TRIG:A:ENAB ON;*OPC?",
        "TRIG:A:MODE NORM;*OPC?",
        "TRIG:A:EDGE:SLOP POS;*OPC?",
        "TRIG:A:EDGE:COUP DC;*OPC?",
        "TRIG:A:EDGE:FILT:LPAS ON;*OPC?",
        "TRIG:A:LEV1 " + level + ";*OPC?",
        "ACQ:WRAT MSAM;*OPC?",
        "TIM:SCAL 0.1;*OPC?",
        "TIM:POS 0.0;*OPC?",
        "TIM:REF 50;*OPC?",
        "CHAN2:STAT ON;*OPC?",
        "CHAN2:SCAL 0.05;*OPC?",
        "CHAN2:POS -3.0;*OPC?",
        "CHAN2:COUP DCL;*OPC?",
        "CHAN2:TYPE SAMP;*OPC?",
        "CHAN2:BAND B20;*OPC?",
        "CHAN1:STAT ON;*OPC?",
        "CHAN1:SCAL 0.05;*OPC?",
        "CHAN1:POS -3.0;*OPC?",
        "CHAN1:COUP DCL;*OPC?",
        "CHAN1:TYPE SAMP;*OPC?",
        "CHAN1:BAND B20;*OPC?",
    };
}

benchsim::Scenario ScopeOfType(bool benlo)
{
    benchsim::Scenario scenario;
    scenario.oscType = benlo ? "Benlo" : "Orvix";
    return scenario;
}

} // namespace

class TstOscSetup : public QObject
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

void TstOscSetup::initTestCase()
{
    QVERIFY(home.isValid());
    UsePrivateSettings(home);
}

void TstOscSetup::sequences_data()
{
    QTest::addColumn<bool>("benlo");
    QTest::addColumn<bool>("demod");
    QTest::addColumn<bool>("reset");
    QTest::addColumn<QString>("level");
    QTest::addColumn<bool>("german");
    QTest::addColumn<int>("transport");
    QTest::addColumn<QStringList>("expected");

    // The error queue is read once the table's commands have all succeeded,
    // before its go-to-local; an empty queue takes one read.
    const int socket = int(Transport::Socket), vxi11 = int(Transport::Vxi11), hislip = int(Transport::Hislip);
    const QStringList check = {"SYST:ERR?"};
    const QStringList checkReset = {"SYST:ERR?", "*RST;*OPC?"};
    const QStringList queue = {"SYST:ERR?"};
    QTest::newRow("vxi11: orvix with demod and reset")
        << false << true << true << "35e-3" << false << vxi11 << checkReset + OrvixWire("0.035") + queue + Local;
    QTest::newRow("orvix without demod, empty level")
        << false << false << false << "" << false << socket << check + Steps(OrvixWire("0"), "1-10,14-26") + queue;
    QTest::newRow("benlo ignores demod, level abc")
        << true << true << false << "abc" << false << socket << check + BenloWire("0") + queue;
    QTest::newRow("vxi11: benlo, reset")
        << true << false << true << "35e-3" << false << vxi11 << checkReset + BenloWire("0.035") + queue + Local;
    QTest::newRow("benlo, level inf is no number")
        << true << false << false << "inf" << false << socket << check + BenloWire("0") + queue;
    QTest::newRow("german: benlo 35e-3")
        << true << false << false << "35e-3" << true << socket << check + BenloWire("0.035") + queue;
    QTest::newRow("german: orvix empty")
        << false << true << false << "" << true << socket << check + OrvixWire("0") + queue;
    QTest::newRow("german: benlo abc")
        << true << false << false << "abc" << true << socket << check + BenloWire("0") + queue;
    QTest::newRow("hislip: orvix with demod and reset")
        << false << true << true << "35e-3" << false << hislip << checkReset + OrvixWire("0.035") + queue + Local;
    QTest::newRow("hislip: benlo, level abc")
        << true << false << false << "abc" << false << hislip << check + BenloWire("0") + queue + Local;
}

void TstOscSetup::sequences()
{
    QFETCH(bool, benlo);
    QFETCH(bool, demod);
    QFETCH(bool, reset);
    QFETCH(QString, level);
    QFETCH(bool, german);
    QFETCH(int, transport);
    QFETCH(QStringList, expected);

    const GermanLocale locale(german);
    SetupBench b(ScopeOfType(benlo), Transport(transport));
    QVERIFY2(b.started, qPrintable(b.error));
    b.form->SaIfDem->setChecked(demod);
    b.form->OsRst->setChecked(reset);
    b.form->OsTrgLvl->setText(level);

    b.click(b.form->OsInit);

    QCOMPARE(b.sent("osc"), expected);
    QCOMPARE(b.form->OsInit->text(), Ready);
    QVERIFY(b.sent("sa").isEmpty());
}

void TstOscSetup::failures_data()
{
    QTest::addColumn<bool>("benlo");
    QTest::addColumn<bool>("demod");
    QTest::addColumn<bool>("reset");
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("button");

    // A VXI-11 device error fails a step at once on a link that stays up, so
    // the log shows whatever the set-up sends after it, go-to-local included.
    // One row waits out the raw socket's 5 s time-out instead.
    const int noReply = int(Fault::Kind::NoReply);
    const int deviceTimeout = int(Fault::Kind::DeviceIoTimeout);
    const int deviceError = int(Fault::Kind::DeviceIoError); // over HiSLIP: an Error message
    const QStringList check = {"SYST:ERR?"};
    const QStringList queue = {"SYST:ERR?"};
    const QStringList orvix = OrvixWire("0.035");
    const QStringList benlo = BenloWire("0.035");
    // An instrument that does not answer the error query is not failed for it.
    QTest::newRow("reset wanted, error query fails: no reset")
        << false << false << true << QByteArray("SYST:ERR?") << deviceTimeout
        << check + Steps(orvix, "1-10,14-26") + queue + Local << Ready;
    QTest::newRow("orvix fails in 1: no local")
        << false << false << false << QByteArray("ACQ:POIN:AUTO") << deviceTimeout << check + Steps(orvix, "1")
        << Init;
    QTest::newRow("orvix fails in 13: no local")
        << false << true << false << QByteArray("CHAN3:TYPE") << deviceTimeout << check + Steps(orvix, "1-13")
        << Init;
    QTest::newRow("orvix fails in 14: goes on after a socket time-out")
        << false << false << false << QByteArray("TIM:SCAL 100e-3") << noReply
        << check + Steps(orvix, "1-10,14-26") + queue << Ready;
    QTest::newRow("orvix fails in 16: local")
        << false << true << false << QByteArray("CHAN:DIGF:CUT") << deviceTimeout
        << check + Steps(orvix, "1-16") + Local << Init;
    QTest::newRow("orvix fails in 26: local")
        << false << false << false << QByteArray("RUN") << deviceTimeout
        << check + Steps(orvix, "1-10,14-26") + Local << Init;
    QTest::newRow("benlo fails in 1: no local")
        << true << false << false << QByteArray("TRIG:B:ENAB") << deviceTimeout << check + Steps(benlo, "1") << Init;
    QTest::newRow("benlo fails in 9: no local")
        << true << false << false << QByteArray("TRIG:A:LEV1") << deviceTimeout << check + Steps(benlo, "1-9")
        << Init;
    QTest::newRow("benlo fails in 25: no local")
        << true << false << false << QByteArray("CHAN1:BAND") << deviceTimeout << check + benlo << Init;
    QTest::newRow("hislip: reset wanted, error query fails: no reset")
        << false << false << true << QByteArray("SYST:ERR?") << deviceError
        << check + Steps(orvix, "1-10,14-26") + queue + Local << Ready;
    QTest::newRow("hislip: orvix fails in 16: local")
        << false << true << false << QByteArray("CHAN:DIGF:CUT") << deviceError
        << check + Steps(orvix, "1-16") + Local << Init;
    QTest::newRow("hislip: benlo fails in 9: no local")
        << true << false << false << QByteArray("TRIG:A:LEV1") << deviceError << check + Steps(benlo, "1-9") << Init;
}

void TstOscSetup::failures()
{
    QFETCH(bool, benlo);
    QFETCH(bool, demod);
    QFETCH(bool, reset);
    QFETCH(QByteArray, pattern);
    QFETCH(int, kind);
    QFETCH(QStringList, expected);
    QFETCH(QString, button);

    // Each kind where it fails a step: silence on a raw socket, a device
    // error over VXI-11, an Error message over HiSLIP.
    const Fault::Kind faultKind = Fault::Kind(kind);
    SetupBench b(ScopeOfType(benlo), faultKind == Fault::Kind::NoReply         ? Transport::Socket
                                     : faultKind == Fault::Kind::DeviceIoError ? Transport::Hislip
                                                                               : Transport::Vxi11);
    QVERIFY2(b.started, qPrintable(b.error));
    b.bench.addFault(MakeFault("osc", pattern, faultKind));
    b.form->SaIfDem->setChecked(demod);
    b.form->OsRst->setChecked(reset);

    b.click(b.form->OsInit);

    QCOMPARE(b.sent("osc"), expected);
    QCOMPARE(b.form->OsInit->text(), button);
}

void TstOscSetup::unopenedResource()
{
    SetupBench b(ScopeOfType(false));
    QVERIFY2(b.started, qPrintable(b.error));
    b.click(b.form->OsInit);
    QCOMPARE(b.form->OsInit->text(), Ready);
    b.bench.clearLog();

    // A failed repeat demotes a ready oscilloscope without sending anything.
    b.form->OsIp->setText(RefusedResource());
    b.click(b.form->OsInit);

    QCOMPARE(b.form->OsInit->text(), Init);
    QVERIFY(b.sent("osc").isEmpty());
}

QTEST_MAIN(TstOscSetup)
#include "tst_oscsetup.moc"
