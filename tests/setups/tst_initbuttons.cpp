// The three Init buttons together. Start follows them: it needs the
// oscilloscope and the spectrum analyzer ready, and the video analyzer too
// with the HDMI option on; a failing re-initialisation takes it away again.
// Re-initialising keeps one link (VXI-11) or session (HiSLIP) per instrument.
#include "setupbench.h"

#include <QElapsedTimer>
#include <QStatusBar>

using benchsim::Fault;

class TstInitButtons : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void followsSetups_data();
    void followsSetups();
    void reinitKeepsOneLink_data();
    void reinitKeepsOneLink();
    void statusBarSaysWhatHappened_data();
    void statusBarSaysWhatHappened();
    void valueThatIsNoNumberIsSaid();
    void decimalCommaReachesInstruments();
    void wrongTypeIsRefused();
    void typeChangedAfterInit();

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

void TstInitButtons::reinitKeepsOneLink_data()
{
    QTest::addColumn<int>("transport");
    QTest::newRow("vxi11") << int(Transport::Vxi11);
    QTest::newRow("hislip") << int(Transport::Hislip);
}

void TstInitButtons::reinitKeepsOneLink()
{
    QFETCH(int, transport);
    benchsim::Scenario scenario;
    scenario.oscType = "Benlo";
    SetupBench b(scenario, Transport(transport));
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
    if (b.vxi11)
        QCOMPARE(b.vxi11->linkCount(), 3);
    else
        QTRY_COMPARE(b.hislip->sessionCount(), 3);
}

// After every Init the status bar names the instrument and the outcome: the
// identity it gave, or the step that failed and why, in words.
void TstInitButtons::statusBarSaysWhatHappened_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("resource"); // empty: the simulated instrument
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("withinMs");

    QTest::newRow("oscilloscope ready") << "OsInit" << "" << "Oscilloscope: ready" << 5000;
    QTest::newRow("analyzer ready, with its identity")
        << "SaInit" << "" << "Spectrum analyzer: ready (Benchsim,SA-ZS1,000101,1.0)" << 5000;
    // Every failure names the resource string it tried (%1).
    QTest::newRow("typo in the resource string")
        << "OsInit" << "TCPIP::127.0.0.1::5025::SOCKT"
        << "Oscilloscope at \"%1\": Init failed at open: unknown resource-string form" << 2000;
    QTest::newRow("nobody listening") << "SaInit" << RefusedResource()
                                      << "Spectrum analyzer at \"%1\": Init failed at open: connection refused" << 3000;
    // A VXI-11 core channel named by its port is refused like a socket.
    QTest::newRow("VXI-11 port nobody listens on")
        << "OsInit" << RefusedResource().replace("::SOCKET", "::INSTR").replace(QRegularExpression("::(\\d+)::"), ",\\1::")
        << "Oscilloscope at \"%1\": Init failed at open: connection refused" << 3000;
    // Accepts the connection and never answers: the error query and the
    // first command of the sequence each wait out the 5 s time-out.
    QTest::newRow("silent instrument") << "OsInit" << "silent"
                                       << "Oscilloscope at \"%1\": Init failed at SYST:ERR?: no answer within 5 s"
                                       << 11000;
}

void TstInitButtons::statusBarSaysWhatHappened()
{
    QFETCH(QString, button);
    QFETCH(QString, resource);
    QFETCH(QString, message);
    QFETCH(int, withinMs);

    benchsim::Scenario scenario;
    scenario.oscType = "Benlo";
    SetupBench b(scenario);
    QVERIFY2(b.started, qPrintable(b.error));
    QTcpServer silent; // its backlog completes connections nobody reads
    if (resource == "silent") {
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        resource = QStringLiteral("TCPIP::127.0.0.1::%1::SOCKET").arg(silent.serverPort());
    }
    auto *init = b.window->findChild<QPushButton *>(button);
    if (!resource.isEmpty())
        (button == "OsInit" ? b.form->OsIp : b.form->SaIp)->setText(resource);

    QElapsedTimer clock;
    clock.start();
    b.click(init);

    QVERIFY2(clock.elapsed() < withinMs, qPrintable(QString::number(clock.elapsed())));
    if (message.contains("%1"))
        message = message.arg(resource);
    QCOMPARE(b.window->statusBar()->currentMessage(), message);
    QCOMPARE(init->text(), message.endsWith("ready") || message.contains("ready (") ? Ready : Init);
    QVERIFY(!QApplication::overrideCursor()); // the busy cursor is gone
}

// A German desktop types decimal commas; the instruments get the number meant.
void TstInitButtons::decimalCommaReachesInstruments()
{
    benchsim::Scenario scenario;
    scenario.oscType = "Benlo";
    SetupBench b(scenario);
    QVERIFY2(b.started, qPrintable(b.error));
    b.enableVa();
    b.form->OsTrgLvl->setText("0,027");
    b.form->SaFrq->setText("5,192e9");
    b.form->VaThres->setText("12,5");

    b.click(b.form->OsInit);
    b.click(b.form->SaInit);
    b.click(b.form->VaInit);

    QVERIFY(b.sent("osc").contains("TRIG:A:LEV1 0.027;*OPC?"));
    QVERIFY(b.sent("sa").contains("FREQ:CENT 5.192e+09;*OPC?"));
    QVERIFY(b.sent("va").contains("CONF:AVDA:TTV:APL:THR 12.5;*OPC?"));
    QVERIFY(b.form->Start->isEnabled());
}

// The bench plays a Benlo oscilloscope; set up as Orvix, it refuses most of
// the table (each command still completes its *OPC?), and only its error
// queue says so. Nine entries and the overflow mark fill it.
void TstInitButtons::wrongTypeIsRefused()
{
    benchsim::Scenario scenario;
    scenario.oscType = "Benlo";
    SetupBench b(scenario);
    QVERIFY2(b.started, qPrintable(b.error));
    b.form->OsTyp->setCurrentIndex(0);

    b.click(b.form->OsInit);
    QCOMPARE(b.window->statusBar()->currentMessage(),
             QStringLiteral("Oscilloscope at \"%1\": Init failed: the instrument refused at least 10 set-up "
                            "commands (first: -113,\"Undefined header\"); is the Type right?")
                 .arg(b.form->OsIp->text()));
    b.click(b.form->SaInit);

    QCOMPARE(b.form->OsInit->text(), Init);
    QVERIFY(!b.form->Start->isEnabled());
    QStringList refused;
    for (const benchsim::LogEntry &e : b.bench.log("osc"))
        if (e.unknown)
            refused << QString::fromLatin1(e.command);
    QVERIFY2(refused.size() > 10, qPrintable(refused.join('\n')));
    const QStringList sent = b.sent("osc");
    // The table to its end, then the queue read to its end: 10 entries and "no error".
    QCOMPARE(sent.mid(sent.size() - 11), QVector<QString>(11, "SYST:ERR?").toList());
    QCOMPARE(sent.at(sent.size() - 12), QStringLiteral("RUN;*OPC?"));

    // The right type afterwards finds the queue read empty and is ready.
    b.bench.clearLog();
    b.form->OsTyp->setCurrentIndex(1);
    b.click(b.form->OsInit);
    QCOMPARE(b.window->statusBar()->currentMessage(), QStringLiteral("Oscilloscope: ready"));
    QCOMPARE(b.form->OsInit->text(), Ready);
    b.click(b.form->SaInit);
    QVERIFY(b.form->Start->isEnabled());
}

// Set up for one family, the instruments would record and sweep that
// family's window while the delays were taken on the other's: changing the
// Type asks for Init again, and only for what was set up for another type.
void TstInitButtons::typeChangedAfterInit()
{
    benchsim::Scenario scenario;
    scenario.oscType = "Benlo";
    SetupBench b(scenario);
    QVERIFY2(b.started, qPrintable(b.error));
    b.enableVa();
    b.click(b.form->OsInit);
    b.click(b.form->SaInit);
    b.click(b.form->VaInit);
    QVERIFY(b.form->Start->isEnabled());
    b.bench.clearLog();

    b.form->OsTyp->setCurrentIndex(0);
    QCOMPARE(b.form->OsInit->text(), Init);
    QCOMPARE(b.form->SaInit->text(), Init);
    QCOMPARE(b.form->VaInit->text(), Ready);
    QVERIFY(!b.form->Start->isEnabled());
    QCOMPARE(b.window->statusBar()->currentMessage(),
             QStringLiteral("Type is now Orvix: Init the oscilloscope and the spectrum analyzer again"));
    QVERIFY(b.bench.log().isEmpty()); // no instrument is touched

    // Back to the type they were set up for: still Init, until set up again.
    b.form->OsTyp->setCurrentIndex(1);
    QCOMPARE(b.form->OsInit->text(), Init);
    b.click(b.form->OsInit);
    b.click(b.form->SaInit);
    QVERIFY(b.form->Start->isEnabled());
}

// A value that is no number is sent as 0, as it always was, and the status
// bar says so instead of a plain "ready".
void TstInitButtons::valueThatIsNoNumberIsSaid()
{
    benchsim::Scenario scenario;
    scenario.oscType = "Benlo";
    SetupBench b(scenario);
    QVERIFY2(b.started, qPrintable(b.error));
    b.enableVa();
    b.form->OsTrgLvl->setText("0.0x5");
    b.form->SaFrq->setText("5.1 GHz");
    b.form->VaThres->setText("");

    b.click(b.form->OsInit);
    QCOMPARE(b.window->statusBar()->currentMessage(),
             QStringLiteral("Oscilloscope: ready; Trigger Level '0.0x5' is not a number, 0 V was set"));
    QVERIFY(b.sent("osc").contains("TRIG:A:LEV1 0;*OPC?"));
    b.click(b.form->SaInit);
    QVERIFY2(b.window->statusBar()->currentMessage().endsWith(
                 "; Center Frequency '5.1 GHz' is not a number, 0 Hz was set"),
             qPrintable(b.window->statusBar()->currentMessage()));
    b.click(b.form->VaInit);
    QCOMPARE(b.window->statusBar()->currentMessage(),
             QStringLiteral("Video analyzer: ready; Threshold '' is not a number, 0 % was set"));
    b.form->OsTrgLvl->setText("0,035");
    b.click(b.form->OsInit);
    QCOMPARE(b.window->statusBar()->currentMessage(), QStringLiteral("Oscilloscope: ready"));
}

QTEST_MAIN(TstInitButtons)
#include "tst_initbuttons.moc"
