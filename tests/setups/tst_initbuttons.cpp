// The three Init buttons together. Start follows them: it needs the
// oscilloscope and the spectrum analyzer ready, and the video analyzer too
// with the HDMI option on; a failing re-initialisation takes it away again.
// Re-initialising keeps one link per instrument.
#include "setupbench.h"

using benchsim::Fault;

class TstInitButtons : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void followsSetups_data();
    void followsSetups();
    void reinitKeepsOneLink();

private:
    QTemporaryDir home;
};

void TstInitButtons::initTestCase()
{
    QVERIFY(home.isValid());
    UsePrivateSettings(home);
}

void TstInitButtons::followsSetups_data()
{
    QTest::addColumn<bool>("hdmi");
    QTest::addColumn<QString>("failing");     // instrument whose re-initialisation fails
    QTest::addColumn<QByteArray>("pattern");  // a command of its set-up

    QTest::newRow("hdmi off, oscilloscope fails") << false << "osc" << QByteArray("TRIG:B:ENAB");
    QTest::newRow("hdmi off, analyzer fails") << false << "sa" << QByteArray("SWE:TIME");
    QTest::newRow("hdmi on, video analyzer fails") << true << "va" << QByteArray("SYST:DISP:UPD");
    QTest::newRow("hdmi on, oscilloscope fails") << true << "osc" << QByteArray("TRIG:B:ENAB");
}

void TstInitButtons::followsSetups()
{
    QFETCH(bool, hdmi);
    QFETCH(QString, failing);
    QFETCH(QByteArray, pattern);

    benchsim::Scenario scenario;
    scenario.oscType = "Benlo";
    SetupBench b(scenario);
    QVERIFY2(b.started, qPrintable(b.error));
    if (hdmi)
        b.enableVa();
    QVERIFY(!b.form->Start->isEnabled());

    b.click(b.form->OsInit);
    QVERIFY(!b.form->Start->isEnabled());
    b.click(b.form->SaInit);
    QCOMPARE(b.form->Start->isEnabled(), !hdmi);
    if (hdmi) {
        b.click(b.form->VaInit);
        QVERIFY(b.form->Start->isEnabled());
    }

    b.bench.addFault(MakeFault(failing, pattern, Fault::Kind::Close));
    QPushButton *init = failing == "osc" ? b.form->OsInit : failing == "sa" ? b.form->SaInit : b.form->VaInit;
    b.click(init);

    QCOMPARE(init->text(), QStringLiteral("Init"));
    QVERIFY(!b.form->Start->isEnabled());
}

void TstInitButtons::reinitKeepsOneLink()
{
    benchsim::Scenario scenario;
    scenario.oscType = "Benlo";
    SetupBench b(scenario, Transport::Vxi11);
    QVERIFY2(b.started, qPrintable(b.error));
    b.enableVa();

    for (int round = 0; round < 3; ++round) {
        b.click(b.form->OsInit);
        b.click(b.form->SaInit);
        b.click(b.form->VaInit);
    }

    QCOMPARE(b.form->OsInit->text(), QStringLiteral("Ready"));
    QCOMPARE(b.form->SaInit->text(), QStringLiteral("Ready"));
    QCOMPARE(b.form->VaInit->text(), QStringLiteral("Ready"));
    QCOMPARE(b.vxi11->linkCount(), 3);
}

QTEST_MAIN(TstInitButtons)
#include "tst_initbuttons.moc"
