#include "app/datapaths.h"

#include <QtTest>

class TestDataPaths : public QObject
{
    Q_OBJECT

private slots:
    void appName_data();
    void appName();
    void dataDirAndCfgFile_data();
    void dataDirAndCfgFile();
    void outDataDir_data();
    void outDataDir();
};

void TestDataPaths::appName_data()
{
    QTest::addColumn<QString>("exePath");
    QTest::addColumn<QString>("appName");

    QTest::newRow("windows exe") << "C:/Program Files/q/prog.exe" << "prog";
    QTest::newRow("several dots") << "C:/bin/prog.beta.exe" << "prog";
    QTest::newRow("backslashes") << "C:\\bin\\prog.beta.exe" << "prog";
    QTest::newRow("dotted directory") << "/home/u/.local/bin/tool" << "tool";
    QTest::newRow("bare name") << "prog.exe" << "prog";
}

void TestDataPaths::appName()
{
    QFETCH(QString, exePath);
    QFETCH(QString, appName);
    QCOMPARE(AppNameFromPath(exePath), appName);
}

void TestDataPaths::dataDirAndCfgFile_data()
{
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("dataDir");
    QTest::addColumn<QString>("cfgFile");

    QTest::newRow("forward slashes")
        << "C:/Users/u/AppData/Local/prog"
        << "C:/Users/u/AppData/Local/Velmarsk/prog"
        << "C:/Users/u/AppData/Local/Velmarsk/prog/prog.cfg";
    QTest::newRow("backslashes")
        << "C:\\Users\\u\\AppData\\Local\\prog"
        << "C:/Users/u/AppData/Local/Velmarsk/prog"
        << "C:/Users/u/AppData/Local/Velmarsk/prog/prog.cfg";
    // An empty last component: the level is inserted above nothing.
    QTest::newRow("trailing separator")
        << "C:/Users/u/AppData/Local/prog/"
        << "C:/Users/u/AppData/Local/prog/Velmarsk/"
        << "C:/Users/u/AppData/Local/prog/Velmarsk//prog.cfg";
    QTest::newRow("trailing backslash")
        << "C:\\Users\\u\\prog\\"
        << "C:/Users/u/prog/Velmarsk/"
        << "C:/Users/u/prog/Velmarsk//prog.cfg";
    // Empty parts are kept, so leading separators survive.
    QTest::newRow("unix absolute")
        << "/home/u/.local/share/prog"
        << "/home/u/.local/share/Velmarsk/prog"
        << "/home/u/.local/share/Velmarsk/prog/prog.cfg";
    QTest::newRow("unc share")
        << "\\\\server\\share\\prog"
        << "//server/share/Velmarsk/prog"
        << "//server/share/Velmarsk/prog/prog.cfg";
}

void TestDataPaths::dataDirAndCfgFile()
{
    QFETCH(QString, location);
    QFETCH(QString, dataDir);
    QFETCH(QString, cfgFile);
    QCOMPARE(DataDirFromLocation(location), dataDir);
    QCOMPARE(CfgFilePath(DataDirFromLocation(location), QStringLiteral("prog")), cfgFile);
}

// --out keeps the names the files have next to DataDir, only the folder changes.
void TestDataPaths::outDataDir_data()
{
    QTest::addColumn<QString>("outDir");
    QTest::addColumn<QString>("prefix");

    QTest::newRow("relative") << "runs" << "runs/prog";
    QTest::newRow("trailing separator") << "/tmp/runs/" << "/tmp/runs/prog";
    QTest::newRow("dots") << "a/./b/../runs" << "a/runs/prog";
}

void TestDataPaths::outDataDir()
{
    QFETCH(QString, outDir);
    QFETCH(QString, prefix);
    QCOMPARE(OutDataDir(outDir, QStringLiteral("/home/u/.local/share/Velmarsk/prog")), prefix);
    QCOMPARE(OutDataDir(outDir, QStringLiteral("C:\\Users\\u\\Velmarsk\\prog")), prefix);
}

QTEST_APPLESS_MAIN(TestDataPaths)
#include "tst_datapaths.moc"
