// The results text and the delay table byte for byte, and the names of the
// files a run writes.
#include "measurement/delayscsv.h"
#include "measurement/resultsfile.h"

#include <QtTest>

#include <limits>

namespace {
const double NaN = std::numeric_limits<double>::quiet_NaN();
}

class TestResultsFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void text_data();
    void text();
    void names_data();
    void names();
    void stamp();
    void delaysCsv();
};

// Numbers must not pick up the locale's decimal comma.
void TestResultsFile::initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

void TestResultsFile::text_data()
{
    QTest::addColumn<QVector<double>>("rf");
    QTest::addColumn<double>("avgRf");
    QTest::addColumn<QVector<double>>("hd");
    QTest::addColumn<double>("avgHd");
    QTest::addColumn<QVector<double>>("snk");
    QTest::addColumn<double>("avgSnk");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("two measurements, HDMI off")
        << QVector<double>{41.2, 39.8} << 40.5 << QVector<double>{0, 0} << 0.0
        << QVector<double>{121.6, 118} << 119.8
        << QByteArray("Source2RF Delay: 41.2 39.8\nSource2RF Mean: 40.5\n"
                      "Source2HD Delay: 0 0\nSource2HD Mean: 0\n"
                      "Source2Snk Delay: 121.6 118\nSource2Snk Mean: 119.8");
    QTest::newRow("no measurement: headers and nan means")
        << QVector<double>() << NaN << QVector<double>() << NaN << QVector<double>() << NaN
        << QByteArray("Source2RF Delay:\nSource2RF Mean: nan\n"
                      "Source2HD Delay:\nSource2HD Mean: nan\n"
                      "Source2Snk Delay:\nSource2Snk Mean: nan");
    QTest::newRow("missing edges as nan, six significant digits, exponents")
        << QVector<double>{NaN, 40.123456789} << 40.123456789 << QVector<double>{1.5e-05, NaN} << 1.5e-05
        << QVector<double>{1234567.0, -0.0001} << 617283.49995
        << QByteArray("Source2RF Delay: nan 40.1235\nSource2RF Mean: 40.1235\n"
                      "Source2HD Delay: 1.5e-05 nan\nSource2HD Mean: 1.5e-05\n"
                      "Source2Snk Delay: 1.23457e+06 -0.0001\nSource2Snk Mean: 617283");
    // Values a long run repeats are formatted once; -0 is its own value, written as 0.
    QTest::newRow("repeated values, signed zeros")
        << QVector<double>{40.5, NaN, 40.5, NaN, 40.5000001} << 40.5 << QVector<double>{0.0, -0.0, 0.0, -0.0} << 0.0
        << QVector<double>{120.0, 120.0} << 120.0
        << QByteArray("Source2RF Delay: 40.5 nan 40.5 nan 40.5\nSource2RF Mean: 40.5\n"
                      "Source2HD Delay: 0 0 0 0\nSource2HD Mean: 0\n"
                      "Source2Snk Delay: 120 120\nSource2Snk Mean: 120");
}

void TestResultsFile::text()
{
    QFETCH(QVector<double>, rf);
    QFETCH(double, avgRf);
    QFETCH(QVector<double>, hd);
    QFETCH(double, avgHd);
    QFETCH(QVector<double>, snk);
    QFETCH(double, avgSnk);
    QFETCH(QByteArray, expected);
    QCOMPARE(ResultsText(rf, avgRf, hd, avgHd, snk, avgSnk), expected);
}

void TestResultsFile::names_data()
{
    QTest::addColumn<int>("k");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("expected");

    const QString base = QStringLiteral("C:/Users/u/AppData/Local/Velmarsk/prog2026-03-01_14-05-09_");
    QTest::newRow("first source") << 1 << int(TraceKind::Source) << base + "001_src.bin";
    QTest::newRow("first rf") << 1 << int(TraceKind::Rf) << base + "001_rf.bin";
    QTest::newRow("first sink") << 1 << int(TraceKind::Sink) << base + "001_snk.bin";
    QTest::newRow("999") << 999 << int(TraceKind::Sink) << base + "999_snk.bin";
    QTest::newRow("1000 grows to four digits") << 1000 << int(TraceKind::Rf) << base + "1000_rf.bin";
}

void TestResultsFile::names()
{
    QFETCH(int, k);
    QFETCH(int, kind);
    QFETCH(QString, expected);
    const QString dataDir = QStringLiteral("C:/Users/u/AppData/Local/Velmarsk/prog");
    const QString stamp = QStringLiteral("2026-03-01_14-05-09_");
    QCOMPARE(TraceFileName(dataDir, stamp, k, TraceKind(kind)), expected);
    QCOMPARE(ResultsFileName(dataDir, stamp),
             QStringLiteral("C:/Users/u/AppData/Local/Velmarsk/prog2026-03-01_14-05-09_Results.txt"));
}

void TestResultsFile::stamp()
{
    QCOMPARE(RunStamp(QDateTime(QDate(2026, 3, 1), QTime(14, 5, 9))), QStringLiteral("2026-03-01_14-05-09_"));
    QCOMPARE(RunStamp(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59))), QStringLiteral("2026-12-31_23-59-59_"));
}

// A point, never the locale's comma; every digit a double needs; empty cells
// for every kind of missing value, also an HDMI path that was switched off.
void TestResultsFile::delaysCsv()
{
    RunRecord run;
    const QDateTime at(QDate(2026, 3, 1), QTime(14, 5, 9, 250), Qt::OffsetFromUTC, 3600);
    Measurement a;
    a.index = 1;
    a.acquired = at;
    a.retakenBefore = 2;
    a.src2Rf = 40.0600060006;
    a.src2Hd = 35.5;
    a.src2Snk = 1234567.0;
    run.measurements << a;
    Measurement b = a;
    b.index = 2;
    b.acquired = at.addMSecs(1500);
    b.retakenBefore = 0;
    b.src2Rf = b.src2Hd = NaN;
    b.rfGap = DelayGap::TraceNotRead;
    b.hdGap = DelayGap::NoReading;
    b.src2Snk = -0.000125;
    Measurement c = b;
    c.index = 3;
    c.acquired = QDateTime();
    c.src2Rf = 40.0600060006;
    c.rfGap = DelayGap::None;
    c.src2Hd = 0.0; // the option was off: no reading, not a reading of 0
    c.hdGap = DelayGap::NotMeasured;
    c.src2Snk = NaN;
    run.measurements << b << c;

    // After the first six columns the fine and corrected delays with their
    // uncertainties: without fine edges only the HDMI reading is corrected
    // (by no calibration), and it has no uncertainty without one.
    QCOMPARE(DelaysCsv(run),
             QByteArray("Measurement,Time (ISO 8601),Source->RF (ms),Source->HDMI (ms),Source->Sink (ms),Retaken before,"
                        "Fine Source->RF (ms),Fine Source->Sink (ms),Corrected Source->RF (ms),U (k = 2) Source->RF (ms),"
                        "Corrected Source->HDMI (ms),U (k = 2) Source->HDMI (ms),Corrected Source->Sink (ms),"
                        "U (k = 2) Source->Sink (ms)\r\n"
                        "1,2026-03-01T14:05:09.250+01:00,40.0600060006,35.5,1234567,2,,,,,35.5,,,\r\n"
                        "2,2026-03-01T14:05:10.750+01:00,,,-0.000125,0,,,,,,,,\r\n"
                        "3,,40.0600060006,,,0,,,,,,,,\r\n"));
    QCOMPARE(CsvField("say \"a,b\"\n"), QByteArray("\"say \"\"a,b\"\"\n\""));
}

QTEST_APPLESS_MAIN(TestResultsFile)
#include "tst_resultsfile.moc"
