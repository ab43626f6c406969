#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "shared/measstate.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void loadsStoredValue_data();
    void loadsStoredValue();
    void firstStartWritesAllKeys();
    void valuesSurviveRestart();
    void typeWithoutSelectionIsWrittenBack();
    void foreignKeysSurvive();
    void germanLocale();
    void handWrittenResourceWithComma();

private:
    QTemporaryDir dataHome;
    QString file; // a settings file of the test's own, passed to the slots
    std::unique_ptr<MainWindow> w;
    QString readFile() const;
};

void TestSettings::initTestCase()
{
    QVERIFY(dataHome.isValid());
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    file = dataHome.filePath("own/test.cfg");
}

void TestSettings::init()
{
    QDir(dataHome.path()).removeRecursively();
    QDir().mkpath(dataHome.path());
    w.reset(new MainWindow);
}

void TestSettings::cleanup()
{
    w.reset();
    QLocale::setDefault(QLocale::c());
}

QString TestSettings::readFile() const
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

void TestSettings::loadsStoredValue_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QString>("shown");

    QTest::newRow("trigger level") << "Oscilloscope/Trigger Level" << "0.035" << "OsTrgLvl" << QByteArray("text") << "0.035";
    QTest::newRow("frequency, g format") << "Spectrum Analyzer/Center Frequency" << "5192000000" << "SaFrq" << QByteArray("text") << "5.192e+09";
    QTest::newRow("frequency, 6 digits") << "Spectrum Analyzer/Center Frequency" << "1234567.89" << "SaFrq" << QByteArray("text") << "1.23457e+06";
    QTest::newRow("frequency not a number") << "Spectrum Analyzer/Center Frequency" << "abc" << "SaFrq" << QByteArray("text") << "0";
    QTest::newRow("check state 2") << "Oscilloscope/Reset" << "2" << "OsRst" << QByteArray("checked") << "true";
    QTest::newRow("FALSE") << "Video Analyzer/Reset" << "FALSE" << "VaRst" << QByteArray("checked") << "false";
    QTest::newRow("empty") << "Spectrum Analyzer/IF Demod" << "" << "SaIfDem" << QByteArray("checked") << "false";
    QTest::newRow("any other text") << "General/Save Data" << "yes" << "SaveData" << QByteArray("checked") << "true";
    QTest::newRow("type out of range") << "Oscilloscope/Type" << "5" << "OsTyp" << QByteArray("currentIndex") << "-1";
    QTest::newRow("type not a number") << "Oscilloscope/Type" << "x" << "OsTyp" << QByteArray("currentIndex") << "0";
    QTest::newRow("hdmi on") << "Video Analyzer/HDMI Delay" << "true" << "VaHdmi" << QByteArray("checked") << "true";
}

void TestSettings::loadsStoredValue()
{
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(QString, control);
    QFETCH(QByteArray, property);
    QFETCH(QString, shown);
    {
        QSettings s(file, QSettings::IniFormat);
        s.setValue(key, stored);
    }
    QCOMPARE(w->LoadCfgFile(file), 0);
    QCOMPARE(w->findChild<QWidget *>(control)->property(property).toString(), shown);

    // The shared values always mirror their controls after loading.
    MainWindowForm *f = w->form.get();
    QCOMPARE(OsTypIdx, f->OsTyp->currentIndex());
    QCOMPARE(MeasHdmi, f->VaHdmi->isChecked());
    for (QWidget *c : {static_cast<QWidget *>(f->VaInit), static_cast<QWidget *>(f->VaIp),
                       static_cast<QWidget *>(f->VaRst), static_cast<QWidget *>(f->VaThres),
                       static_cast<QWidget *>(f->VaThresLbl)})
        QCOMPARE(c->isEnabled(), MeasHdmi);
}

void TestSettings::firstStartWritesAllKeys()
{
    QCOMPARE(w->SaveCfgFile(file), 0); // also creates the missing directory
    QSettings s(file, QSettings::IniFormat);
    QCOMPARE(s.allKeys().size(), 13);
    QCOMPARE(s.value("Oscilloscope/IP Address").toString(), QStringLiteral("TCPIP::127.0.0.1::INSTR"));
    QCOMPARE(s.value("Spectrum Analyzer/IP Address").toString(), QStringLiteral("TCPIP::127.0.0.2::INSTR"));
    QCOMPARE(s.value("Video Analyzer/IP Address").toString(), QStringLiteral("TCPIP::127.0.0.3::INSTR"));
    for (const char *key : {"Oscilloscope/Reset", "Spectrum Analyzer/Reset", "Spectrum Analyzer/IF Demod",
                            "Video Analyzer/Reset", "General/Save Data"})
        QCOMPARE(s.value(key).toString(), QStringLiteral("0"));
    QCOMPARE(s.value("Oscilloscope/Type").toString(), QStringLiteral("1"));
    QCOMPARE(s.value("Oscilloscope/Trigger Level").toDouble(), 0.027);
    QCOMPARE(s.value("Spectrum Analyzer/Center Frequency").toDouble(), 5.192e9);
    QCOMPARE(s.value("Video Analyzer/Threshold").toDouble(), 35.0);
    QCOMPARE(s.value("Video Analyzer/HDMI Delay").toString(), QStringLiteral("false"));

    // Other tools read the file as text: Qt's INI encoding of names.
    const QString text = readFile();
    QVERIFY(text.contains("[Spectrum%20Analyzer]\n"));
    QVERIFY(text.contains("[%General]\nSave%20Data=0\n"));
    QVERIFY(text.contains("IP%20Address=TCPIP::127.0.0.1::INSTR\n"));
}

// Through the real start-up and shutdown paths: destructor saves, constructor loads.
void TestSettings::valuesSurviveRestart()
{
    MainWindowForm *f = w->form.get();
    f->OsTrgLvl->setText("35e-3");
    f->SaFrq->setText("abc");
    f->VaThres->setText("40.5");
    f->OsRst->setChecked(true);
    f->SaIfDem->setChecked(true);
    f->SaveData->setChecked(true);
    f->VaHdmi->click();
    f->OsTyp->setCurrentIndex(0);
    f->SaIp->setText("TCPIP::192.168.1.7::INSTR");
    const QString cfg = w->CfgFile;
    w.reset();

    {
        QSettings s(cfg, QSettings::IniFormat);
        QCOMPARE(s.value("Oscilloscope/Trigger Level").toString(), QStringLiteral("0.035"));
        QCOMPARE(s.value("Spectrum Analyzer/Center Frequency").toDouble(), 0.0);
        QCOMPARE(s.value("Oscilloscope/Reset").toString(), QStringLiteral("2"));
        QCOMPARE(s.value("Video Analyzer/HDMI Delay").toString(), QStringLiteral("true"));
    }

    OsTypIdx = 1;
    MeasHdmi = false;
    w.reset(new MainWindow);
    f = w->form.get();
    QCOMPARE(f->OsTrgLvl->text(), QStringLiteral("0.035"));
    QCOMPARE(f->SaFrq->text(), QStringLiteral("0"));
    QCOMPARE(f->VaThres->text(), QStringLiteral("40.5"));
    QVERIFY(f->OsRst->isChecked());
    QVERIFY(!f->SaRst->isChecked());
    QVERIFY(f->SaIfDem->isChecked());
    QVERIFY(f->SaveData->isChecked());
    QVERIFY(f->VaHdmi->isChecked());
    QVERIFY(MeasHdmi);
    QVERIFY(f->VaIp->isEnabled());
    QCOMPARE(OsTypIdx, 0);
    QCOMPARE(f->SaIp->text(), QStringLiteral("TCPIP::192.168.1.7::INSTR"));
    QCOMPARE(f->MeasCnt->text(), QStringLiteral("1"));
}

void TestSettings::typeWithoutSelectionIsWrittenBack()
{
    {
        QSettings s(file, QSettings::IniFormat);
        s.setValue("Oscilloscope/Type", 5);
    }
    w->LoadCfgFile(file);
    QCOMPARE(w->form->OsTyp->currentText(), QString());
    QCOMPARE(OsTypIdx, -1);
    w->SaveCfgFile(file);
    QSettings s(file, QSettings::IniFormat);
    QCOMPARE(s.value("Oscilloscope/Type").toString(), QStringLiteral("-1"));
}

void TestSettings::foreignKeysSurvive()
{
    QDir().mkpath(QFileInfo(file).path());
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[General]\nrootKey=1\n\n[Oscilloscope]\nIP%20Address=TCPIP::10.1.1.1::INSTR\nProbe=10x\n\n"
            "[Elsewhere]\nname=kept\n");
    f.close();

    w->LoadCfgFile(file);
    QCOMPARE(w->form->OsIp->text(), QStringLiteral("TCPIP::10.1.1.1::INSTR"));
    w->SaveCfgFile(file);

    QSettings s(file, QSettings::IniFormat);
    QCOMPARE(s.value("rootKey").toString(), QStringLiteral("1"));
    QCOMPARE(s.value("Oscilloscope/Probe").toString(), QStringLiteral("10x"));
    QCOMPARE(s.value("Elsewhere/name").toString(), QStringLiteral("kept"));
    QCOMPARE(s.allKeys().size(), 16);
}

// A desktop with a comma decimal separator must neither show nor store commas.
void TestSettings::germanLocale()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    {
        QSettings s(file, QSettings::IniFormat);
        s.setValue("Oscilloscope/Trigger Level", "0.027");
        s.setValue("Video Analyzer/Threshold", "12.5");
    }
    w->LoadCfgFile(file);
    QCOMPARE(w->form->OsTrgLvl->text(), QStringLiteral("0.027"));
    QCOMPARE(w->form->VaThres->text(), QStringLiteral("12.5"));

    w->form->SaFrq->setText("5.2e9");
    w->SaveCfgFile(file);
    QVERIFY(!readFile().contains(','));
    QSettings s(file, QSettings::IniFormat);
    QCOMPARE(s.value("Spectrum Analyzer/Center Frequency").toDouble(), 5.2e9);
    QCOMPARE(s.value("Video Analyzer/Threshold").toDouble(), 12.5);
}

// A resource string typed into the file by hand, unquoted, with the comma
// of a VXI-11 port or a gateway address: read back whole, as the window
// shows and writes it.
void TestSettings::handWrittenResourceWithComma()
{
    QDir().mkpath(QFileInfo(file).path());
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[Oscilloscope]\nIP%20Address=TCPIP::10.0.0.5,4000::INSTR\n"
            "[Spectrum%20Analyzer]\nIP%20Address=TCPIP::127.0.0.1,39757::inst1::INSTR\n"
            "[Video%20Analyzer]\nIP%20Address=TCPIP::gw::gpib0,12::INSTR\n");
    f.close();
    QCOMPARE(w->LoadCfgFile(file), 0);
    MainWindowForm *form = w->form.get();
    QCOMPARE(form->OsIp->text(), QStringLiteral("TCPIP::10.0.0.5,4000::INSTR"));
    QCOMPARE(form->SaIp->text(), QStringLiteral("TCPIP::127.0.0.1,39757::inst1::INSTR"));
    QCOMPARE(form->VaIp->text(), QStringLiteral("TCPIP::gw::gpib0,12::INSTR"));
    QCOMPARE(w->SaveCfgFile(file), 0);
    w.reset(new MainWindow);
    QCOMPARE(w->LoadCfgFile(file), 0);
    QCOMPARE(w->form->SaIp->text(), QStringLiteral("TCPIP::127.0.0.1,39757::inst1::INSTR"));
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
