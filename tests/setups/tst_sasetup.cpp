// The spectrum analyzer's Init button against the simulated bench: the
// model-word branches, the sweep time per oscilloscope type, and how a
// failure in each block decides the outcome.
#include "setupbench.h"

using benchsim::Fault;

namespace {

// Setting block B1-B5 (steps 1-5), sweep block W1-W5 (6-10), output block T1-T4 (11-14).
QStringList SaWire(const QString &frequency, const QString &sweepTime)
{
    return {
        "DISP:TRAC:Y:RLEV 0.0;*OPC?",
        "INP1:ATT 0.0;*OPC?",
        "FREQ:CENT " + frequency + ";*OPC?",
        "FREQ:SPAN 0;*OPC?",
        "TRIG1:SOUR EXT;*OPC?",
        "SWE:TIME " + sweepTime + ";*OPC?",
        "SWE:POIN 20001;*OPC?",
        "SWE:TYPE SWE;SWE:OPT;BWID:FFT AUTO;*OPC?",
        "BWID 50e6;*OPC?",
        "BWID:VID 20e3;*OPC?",
        "TRIG1:HOLD -0.6;*OPC?",
        "TRIG1:SLOP POS;*OPC?",
        "OUTP:IF VID;*OPC?",
        "OUTP:IF:IFFR 2.0;*OPC?",
    };
}

benchsim::Scenario AnalyzerNamed(const QByteArray &identity)
{
    benchsim::Scenario scenario;
    scenario.oscType = "Benlo";
    scenario.saIdn = identity;
    return scenario;
}

const QString Idn = QStringLiteral("*IDN?");
const QString SweepMode = QStringLiteral("FREQ:MODE SW;*OPC?");
// The error queue, read once the sweep block has succeeded, before go-to-local.
const QStringList Queue = {QStringLiteral("SYST:ERR?")};

} // namespace

class TstSaSetup : public QObject
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

void TstSaSetup::initTestCase()
{
    QVERIFY(home.isValid());
    UsePrivateSettings(home);
}

void TstSaSetup::sequences_data()
{
    QTest::addColumn<QByteArray>("identity");
    QTest::addColumn<int>("osTyp");
    QTest::addColumn<bool>("reset");
    QTest::addColumn<QString>("frequency");
    QTest::addColumn<QStringList>("expected");

    const QStringList benlo = SaWire("5.192e+09", "1.2");
    QTest::newRow("briska in lower case: sweep mode")
        << QByteArray("Benchsim,briska-x,1,1.0") << 1 << false << "5.192e9"
        << QStringList{Idn, SweepMode} + benlo + Queue;
    QTest::newRow("deskal: no IF output")
        << QByteArray("BENCHSIM,DESKAL 7,1,1.0") << 1 << false << "5.192e9"
        << QStringList{Idn} + Steps(benlo, "1-12") + Queue;
    QTest::newRow("both words")
        << QByteArray("Benchsim,Briska/Deskal,1,1.0") << 1 << false << "5.192e9"
        << QStringList{Idn, SweepMode} + Steps(benlo, "1-12") + Queue;
    QTest::newRow("neither word, orvix sweep time")
        << QByteArray("Benchsim,SA-ZS1,1,1.0") << 0 << false << "5.192e9"
        << QStringList{Idn} + SaWire("5.192e+09", "1") + Queue;
    QTest::newRow("type outside the list: benlo sweep time")
        << QByteArray("Benchsim,SA-ZS1,1,1.0") << -1 << false << "5.192e9" << QStringList{Idn} + benlo + Queue;
    QTest::newRow("reset before identity, empty frequency")
        << QByteArray("Benchsim,SA-ZS1,1,1.0") << 1 << true << ""
        << QStringList{"*RST;*OPC?", Idn} + SaWire("0", "1.2") + Queue;
}

void TstSaSetup::sequences()
{
    QFETCH(QByteArray, identity);
    QFETCH(int, osTyp);
    QFETCH(bool, reset);
    QFETCH(QString, frequency);
    QFETCH(QStringList, expected);

    SetupBench b(AnalyzerNamed(identity));
    QVERIFY2(b.started, qPrintable(b.error));
    b.form->OsTyp->setCurrentIndex(osTyp);
    b.form->SaRst->setChecked(reset);
    b.form->SaFrq->setText(frequency);

    b.click(b.form->SaInit);

    QCOMPARE(b.sent("sa"), expected);
    QCOMPARE(b.form->SaInit->text(), Ready);
    QVERIFY(b.sent("osc").isEmpty());
}

void TstSaSetup::failures_data()
{
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("button");

    // A VXI-11 device error fails a step at once on a link that stays up, so
    // the log shows whatever the set-up sends after it, go-to-local included.
    const QStringList wire = SaWire("5.192e+09", "1.2");
    const QStringList named = {Idn, SweepMode};
    // The analyzer names both model words: an unanswered identity must count as neither.
    QTest::newRow("identity fails: no sweep mode, IF output sent")
        << QByteArray("*IDN?") << QStringList{Idn} + wire + Queue + Local << Ready;
    QTest::newRow("B1 fails: rest of setting block skipped")
        << QByteArray("DISP:TRAC:Y:RLEV") << named + Steps(wire, "1,6-12") + Queue + Local << Ready;
    QTest::newRow("W2 fails: ends, no local") << QByteArray("SWE:POIN") << named + Steps(wire, "1-7") << Init;
    QTest::newRow("W5 fails: ends, no local") << QByteArray("BWID:VID") << named + Steps(wire, "1-10") << Init;
    QTest::newRow("T1 fails: IF output skipped, local")
        << QByteArray("TRIG1:HOLD") << named + Steps(wire, "1-11") + Queue + Local << Ready;
    QTest::newRow("go-to-local fails")
        << QByteArray(benchsim::GoToLocalCommand) << named + Steps(wire, "1-12") + Queue + Local << Init;
}

void TstSaSetup::failures()
{
    QFETCH(QByteArray, pattern);
    QFETCH(QStringList, expected);
    QFETCH(QString, button);

    SetupBench b(AnalyzerNamed("Benchsim,Briska Deskal,1,1.0"), Transport::Vxi11);
    QVERIFY2(b.started, qPrintable(b.error));
    b.bench.addFault(MakeFault("sa", pattern, Fault::Kind::DeviceIoTimeout));

    b.click(b.form->SaInit);

    QCOMPARE(b.sent("sa"), expected);
    QCOMPARE(b.form->SaInit->text(), button);
}

void TstSaSetup::unopenedResource()
{
    SetupBench b(AnalyzerNamed("Benchsim,SA-ZS1,1,1.0"));
    QVERIFY2(b.started, qPrintable(b.error));
    b.form->SaIp->setText(RefusedResource());

    b.click(b.form->SaInit);

    QCOMPARE(b.form->SaInit->text(), Init);
    QVERIFY(b.sent("sa").isEmpty());
}

QTEST_MAIN(TstSaSetup)
#include "tst_sasetup.moc"
