// The application's three Init buttons against the simulated bench given
// as an operator types it: TCPIP::127.0.0.1/.2/.3::INSTR, found through the
// portmapper on port 111 (inside a private network namespace).
#include "netns.h"
#include "tests/setups/setupbench.h"

#include <QApplication>
#include <QStatusBar>

class TestVxi11InitButtons : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void hostWithoutPortmapper();
    void initButtonsReachTheBench();

private:
    QTemporaryDir home_;
};

void TestVxi11InitButtons::initTestCase()
{
    if (!inNetNamespace())
        QSKIP(QUENVIA_NETNS_SKIP_MESSAGE);
    QVERIFY(home_.isValid());
    UsePrivateSettings(home_);
}

// A known host that runs no portmapper is not "no such resource": the
// message says what is missing, and where.
void TestVxi11InitButtons::hostWithoutPortmapper()
{
    SetupBench b{benchsim::Scenario()};
    QVERIFY2(b.started, qPrintable(b.error));
    b.form->OsIp->setText(QStringLiteral("TCPIP::127.0.0.1::INSTR"));
    b.click(b.form->OsInit);
    QCOMPARE(b.form->OsInit->text(), Init);
    QCOMPARE(b.window->statusBar()->currentMessage(),
             QStringLiteral("Oscilloscope at \"TCPIP::127.0.0.1::INSTR\": Init failed at open: connection refused: no "
                            "portmapper at 127.0.0.1 (port 111), where VXI-11 asks for the instrument's port"));
}

void TestVxi11InitButtons::initButtonsReachTheBench()
{
    SetupBench b{benchsim::Scenario()};
    QVERIFY2(b.started, qPrintable(b.error));
    QVERIFY2(b.bench.startVxi11(&b.error), qPrintable(b.error));
    b.form->OsIp->setText(QStringLiteral("TCPIP::127.0.0.1::INSTR"));
    b.form->SaIp->setText(QStringLiteral("TCPIP::127.0.0.2::INSTR"));
    b.form->VaIp->setText(QStringLiteral("TCPIP::127.0.0.3::INSTR"));
    QCOMPARE(b.bench.vxi11Resource("sa"), b.form->SaIp->text());
    b.enableVa();

    b.click(b.form->OsInit);
    b.click(b.form->SaInit);
    b.click(b.form->VaInit);
    QCOMPARE(b.form->OsInit->text(), QStringLiteral("Ready"));
    QCOMPARE(b.form->SaInit->text(), QStringLiteral("Ready"));
    QCOMPARE(b.form->VaInit->text(), QStringLiteral("Ready"));
    QVERIFY(b.form->Start->isEnabled());
    // Each instrument got its own set-up: the address picked the model.
    QVERIFY(b.sent("sa").contains("*IDN?"));
    QVERIFY(!b.sent("osc").isEmpty());
    QVERIFY(!b.sent("va").isEmpty());
    QVERIFY(b.sent("osc") != b.sent("sa") && b.sent("sa") != b.sent("va"));
}

int main(int argc, char **argv)
{
    reexecInNetNamespace(argc, argv);
    QApplication app(argc, argv);
    TestVxi11InitButtons test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_vxi11initbuttons.moc"
