// Start follows the Init buttons: it needs the oscilloscope and the
// spectrum analyzer ready, and the video analyzer too with the HDMI option
// on; a failing re-initialisation takes it away again.
#include "setupbench.h"

using benchsim::Fault;

class TstStartEnable : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void followsSetups_data();
    void followsSetups();

private:
    QTemporaryDir home;
};

void TstStartEnable::initTestCase()
{
    QVERIFY(home.isValid());
    UsePrivateSettings(home);
}

void TstStartEnable::followsSetups_data()
{
    QTest::addColumn<bool>("hdmi");
    QTest::addColumn<QString>("failing");     // instrument whose re-initialisation fails
    QTest::addColumn<QByteArray>("pattern");  // a command of its set-up

    QTest::newRow("hdmi off, oscilloscope fails") << false << "osc" << QByteArray("TRIG:B:ENAB");
    QTest::newRow("hdmi off, analyzer fails") << false << "sa" << QByteArray("SWE:TIME");
    QTest::newRow("hdmi on, video analyzer fails") << true << "va" << QByteArray("SYST:DISP:UPD");
    QTest::newRow("hdmi on, oscilloscope fails") << true << "osc" << QByteArray("TRIG:B:ENAB");
}

void TstStartEnable::followsSetups()
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

QTEST_MAIN(TstStartEnable)
#include "tst_startenable.moc"
