#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "shared/measstate.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

// Reaches the private slots that the instrument set-ups call.
class MainWindowProbe
{
public:
    static void UndimStart(MainWindow &w) { w.UndimStart(); }
};

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void firstStart();
    void freeControlsLieAboveGroupBoxes();
    void icon();
    void undimStart_data();
    void undimStart();
    void vaHdmiSwitchesVideoControlsButNotStart();
    void osTypSetsTypeIndex();
    void cancelEndsEventLoopWithZeroAndSaves();

private:
    QTemporaryDir dataHome;
    std::unique_ptr<MainWindow> w;
    QString cfgFile() const;
};

QString TestMainWindow::cfgFile() const
{
    const QString app = QCoreApplication::applicationName();
    return dataHome.path() + "/Velmarsk/" + app + "/" + app + ".cfg";
}

void TestMainWindow::initTestCase()
{
    QVERIFY(dataHome.isValid());
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
}

// Every case starts from a first start: no settings directory, no file.
void TestMainWindow::init()
{
    QDir(dataHome.path() + "/Velmarsk").removeRecursively();
    w.reset(new MainWindow);
}

void TestMainWindow::cleanup()
{
    w.reset();
}

void TestMainWindow::firstStart()
{
    MainWindowForm *f = w->form.get();
    QCOMPARE(w->windowTitle(), QStringLiteral("QuenviaCodecTiming"));
    QCOMPARE(w->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(w->size(), QSize(327, 293));
    QCOMPARE(w->windowFlags(), Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    QCOMPARE(w->AppName, QCoreApplication::applicationName());
    QCOMPARE(w->CfgFile, cfgFile());
    // The Velmarsk level is missing, so the one-level mkdir cannot succeed yet.
    QVERIFY(!QFileInfo::exists(w->DataDir));

    QCOMPARE(f->OsTrgLvl->text(), QStringLiteral("0.027"));
    QCOMPARE(f->SaFrq->text(), QStringLiteral("5.192e+09"));
    QCOMPARE(f->VaThres->text(), QStringLiteral("35"));
    QCOMPARE(f->MeasCnt->text(), QStringLiteral("1"));
    QCOMPARE(f->OsIp->text(), QStringLiteral("TCPIP::127.0.0.1::INSTR"));
    QCOMPARE(f->SaIp->text(), QStringLiteral("TCPIP::127.0.0.2::INSTR"));
    QCOMPARE(f->VaIp->text(), QStringLiteral("TCPIP::127.0.0.3::INSTR"));
    QCOMPARE(f->OsTyp->currentText(), QStringLiteral("Benlo"));
    QCOMPARE(OsTypIdx, 1);
    QCOMPARE(MeasHdmi, false);
    for (QCheckBox *box : w->findChildren<QCheckBox *>())
        QVERIFY2(!box->isChecked(), qPrintable(box->objectName()));

    const QStringList disabled = {"VaInit", "VaIp", "VaRst", "VaThres", "VaThresLbl", "Start"};
    for (QWidget *c : w->findChildren<QWidget *>()) {
        if (c->objectName().isEmpty() || c->objectName().startsWith("qt_"))
            continue;
        QVERIFY2(c->isEnabled() != disabled.contains(c->objectName()), qPrintable(c->objectName()));
    }

    // Ending without any set-up still writes the settings, creating both levels.
    w.reset();
    QVERIFY(QFileInfo::exists(cfgFile()));
}

void TestMainWindow::freeControlsLieAboveGroupBoxes()
{
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QWidget *central = w->form->centralwidget;
    for (QWidget *c : {static_cast<QWidget *>(w->form->OsTrgLvl), static_cast<QWidget *>(w->form->OsTyp),
                       static_cast<QWidget *>(w->form->SaFrq), static_cast<QWidget *>(w->form->SaIfDem),
                       static_cast<QWidget *>(w->form->VaHdmi)}) {
        QWidget *hit = central->childAt(c->geometry().center());
        QVERIFY2(hit == c || c->isAncestorOf(hit), qPrintable(c->objectName()));
    }
}

void TestMainWindow::icon()
{
    QVERIFY(!w->windowIcon().isNull() == QFileInfo::exists("vk.ico"));
    QTemporaryDir cwd;
    const QString old = QDir::currentPath();
    QVERIFY(QFile::copy(QUENVIA_ICON, cwd.filePath("vk.ico")));
    QDir::setCurrent(cwd.path());
    MainWindow withIcon;
    QDir::setCurrent(old);
    QVERIFY(!withIcon.windowIcon().availableSizes().isEmpty());
}

void TestMainWindow::undimStart_data()
{
    QTest::addColumn<bool>("hdmi");
    QTest::addColumn<QString>("os");
    QTest::addColumn<QString>("sa");
    QTest::addColumn<QString>("va");
    QTest::addColumn<bool>("startBefore");
    QTest::addColumn<bool>("startAfter");

    QTest::newRow("two ready") << false << "Ready" << "Ready" << "Init" << false << true;
    QTest::newRow("scope failed") << false << "Init" << "Ready" << "Ready" << true << false;
    QTest::newRow("analyzer failed") << false << "Ready" << "Init" << "Ready" << true << false;
    QTest::newRow("case matters") << false << "ready" << "Ready" << "Init" << false << false;
    QTest::newRow("exact text") << false << "Ready " << "Ready" << "Init" << false << false;
    QTest::newRow("hdmi, all ready") << true << "Ready" << "Ready" << "Ready" << false << true;
    QTest::newRow("hdmi, video failed") << true << "Ready" << "Ready" << "Init" << true << false;
}

void TestMainWindow::undimStart()
{
    QFETCH(bool, hdmi);
    QFETCH(QString, os);
    QFETCH(QString, sa);
    QFETCH(QString, va);
    QFETCH(bool, startBefore);
    QFETCH(bool, startAfter);
    MeasHdmi = hdmi;
    w->form->OsInit->setText(os);
    w->form->SaInit->setText(sa);
    w->form->VaInit->setText(va);
    w->form->Start->setEnabled(startBefore);
    MainWindowProbe::UndimStart(*w);
    QCOMPARE(w->form->Start->isEnabled(), startAfter);
}

void TestMainWindow::vaHdmiSwitchesVideoControlsButNotStart()
{
    MainWindowForm *f = w->form.get();
    const QList<QWidget *> video = {f->VaInit, f->VaIp, f->VaRst, f->VaThres, f->VaThresLbl};
    f->OsInit->setText("Ready");
    f->SaInit->setText("Ready");
    MainWindowProbe::UndimStart(*w);
    QVERIFY(f->Start->isEnabled());

    f->VaHdmi->click();
    QVERIFY(MeasHdmi);
    for (QWidget *c : video)
        QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
    QVERIFY(f->Start->isEnabled());
    // From the next set-up on, the video analyzer must be ready too.
    MainWindowProbe::UndimStart(*w);
    QVERIFY(!f->Start->isEnabled());

    f->VaHdmi->click();
    QVERIFY(!MeasHdmi);
    for (QWidget *c : video)
        QVERIFY2(!c->isEnabled(), qPrintable(c->objectName()));
    QVERIFY(f->label_9->isEnabled());
    QVERIFY(f->Va->isEnabled());
}

void TestMainWindow::osTypSetsTypeIndex()
{
    w->form->OsTyp->setCurrentIndex(0);
    QCOMPARE(OsTypIdx, 0);
    QTest::keyClick(w->form->OsTyp, Qt::Key_Down);
    QCOMPARE(OsTypIdx, 1);
    QCOMPARE(w->form->OsInit->text(), QStringLiteral("Init"));
}

void TestMainWindow::cancelEndsEventLoopWithZeroAndSaves()
{
    w->form->OsTrgLvl->setText("0.05");
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QTimer::singleShot(0, [this] {
        QTest::mouseClick(w->form->Cancel->button(QDialogButtonBox::Cancel), Qt::LeftButton);
    });
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!w->isVisible());
    w.reset();
    QSettings s(cfgFile(), QSettings::IniFormat);
    QCOMPARE(s.value("Oscilloscope/Trigger Level").toDouble(), 0.05);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
