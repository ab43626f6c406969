// Calibration files as the tool reads them: what is accepted, what is refused
// (malformed and hostile files) with which message; the dialog's fields
// checked as a file is, saved and loaded again; the window's own copy kept
// beside the settings file and removed when cleared.
#include "app/calibrationdialog.h"
#include "app/calibrationstore.h"
#include "measurement/calibration.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>

class TestCalibration : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void writtenReadsBack();
    void dialogFields();
    void keptBesideSettings();
};

void TestCalibration::parse_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("error"); // empty: accepted

    QTest::newRow("smallest") << QByteArray(R"({"schemaVersion": 1})") << "";
    QTest::newRow("everything")
        << QByteArray(R"({"schemaVersion": 1, "name": "A", "date": "2026-03-01T14:05:09", "measuredWith": "pd",
                          "timeBasePpm": 0, "paths": {"src2Rf": {"offsetMs": -1000, "uncertaintyMs": 0, "note": "n"},
                          "src2Hd": {"offsetMs": 1.5, "uncertaintyMs": 1000}, "src2Snk": {"offsetMs": 0, "uncertaintyMs": 0}}})")
        << "";
    QTest::newRow("not json") << QByteArray("{\"schemaVersion\": 1,") << "not JSON";
    QTest::newRow("an array") << QByteArray("[1]") << "a calibration is a JSON object";
    QTest::newRow("no version") << QByteArray(R"({"name": "x"})") << "schemaVersion is missing";
    QTest::newRow("a later version") << QByteArray(R"({"schemaVersion": 2})") << "schemaVersion must be 1";
    QTest::newRow("version as text") << QByteArray(R"({"schemaVersion": "1"})") << "schemaVersion must be a number";
    QTest::newRow("typo") << QByteArray(R"({"schemaVersion": 1, "timebasePpm": 5})") << "unknown member timebasePpm";
    QTest::newRow("unknown path") << QByteArray(R"({"schemaVersion": 1, "paths": {"src2Hdmi": {}}})")
                                  << "unknown path paths.src2Hdmi";
    QTest::newRow("typo in a path")
        << QByteArray(R"({"schemaVersion": 1, "paths": {"src2Rf": {"offsetMs": 1, "uncertaintyMs": 0, "offset": 1}}})")
        << "unknown member paths.src2Rf.offset";
    QTest::newRow("offset missing") << QByteArray(R"({"schemaVersion": 1, "paths": {"src2Rf": {"uncertaintyMs": 0}}})")
                                    << "paths.src2Rf.offsetMs is missing";
    QTest::newRow("offset as text")
        << QByteArray(R"({"schemaVersion": 1, "paths": {"src2Snk": {"offsetMs": "0.3", "uncertaintyMs": 0}}})")
        << "paths.src2Snk.offsetMs must be a number from -1000 to 1000";
    QTest::newRow("huge offset")
        << QByteArray(R"({"schemaVersion": 1, "paths": {"src2Rf": {"offsetMs": 1e300, "uncertaintyMs": 0}}})")
        << "offsetMs must be a number from -1000 to 1000";
    QTest::newRow("beyond a double")
        << QByteArray(R"({"schemaVersion": 1, "paths": {"src2Rf": {"offsetMs": 1, "uncertaintyMs": 1e999}}})")
        << "not JSON: illegal number";
    QTest::newRow("negative uncertainty")
        << QByteArray(R"({"schemaVersion": 1, "paths": {"src2Rf": {"offsetMs": 1, "uncertaintyMs": -0.1}}})")
        << "uncertaintyMs must be a number from 0 to 1000";
    QTest::newRow("NaN is no JSON") << QByteArray(R"({"schemaVersion": 1, "timeBasePpm": NaN})") << "not JSON";
    QTest::newRow("time base null") << QByteArray(R"({"schemaVersion": 1, "timeBasePpm": null})")
                                    << "timeBasePpm must be a number from 0 to 10000";
    QTest::newRow("time base off by a lot") << QByteArray(R"({"schemaVersion": 1, "timeBasePpm": 20000})")
                                            << "timeBasePpm must be a number";
    QTest::newRow("paths as a list") << QByteArray(R"({"schemaVersion": 1, "paths": []})") << "paths must be an object";
    QTest::newRow("path as a number") << QByteArray(R"({"schemaVersion": 1, "paths": {"src2Rf": 3}})")
                                      << "paths.src2Rf must be an object";
    QTest::newRow("date that is none") << QByteArray(R"({"schemaVersion": 1, "date": "yesterday"})")
                                       << "date must be an ISO 8601 date";
    QTest::newRow("name as a number") << QByteArray(R"({"schemaVersion": 1, "name": 7})") << "name must be a text";
    QTest::newRow("name too long") << QByteArray("{\"schemaVersion\": 1, \"name\": \"" + QByteArray(201, 'x') + "\"}")
                                   << "name is longer than 200 characters";
    QTest::newRow("file too large")
        << QByteArray("{\"schemaVersion\": 1, \"measuredWith\": \"" + QByteArray(70000, 'x') + "\"}")
        << "larger than the 65536 bytes";
    QTest::newRow("deep nesting") << QByteArray(2000, '[') << "not JSON";
}

void TestCalibration::parse()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, error);
    Calibration c;
    c.name = QStringLiteral("untouched");
    QString why;
    const bool ok = ParseCalibration(json, &c, &why);
    QVERIFY2(ok == error.isEmpty(), qPrintable(why));
    if (ok) {
        QVERIFY(c.loaded);
        QVERIFY(c.timeBasePpm >= 0);
    } else {
        QVERIFY2(why.contains(error), qPrintable(why));
        QCOMPARE(c.name, QStringLiteral("untouched")); // a refused file changes nothing
    }
}

void TestCalibration::writtenReadsBack()
{
    QTemporaryDir dir;
    Calibration c;
    c.loaded = true;
    c.name = QStringLiteral("Bench \u00e4");
    c.date = QStringLiteral("2026-03-01");
    c.timeBasePpm = 2.5;
    c.of(DelayPath::Src2Snk) = PathCalibration{true, 0.1234567890123, 0.002, QStringLiteral("run 7")};
    QVERIFY(WriteCalibrationFile(dir.filePath("c.json"), c).isEmpty());
    Calibration back;
    QString why;
    QVERIFY2(ReadCalibrationFile(dir.filePath("c.json"), &back, &why), qPrintable(why));
    QCOMPARE(CalibrationJson(back), CalibrationJson(c));
    QCOMPARE(back.of(DelayPath::Src2Snk).offsetMs, 0.1234567890123);
    QVERIFY(!back.of(DelayPath::Src2Rf).set);
    QCOMPARE(back.title(), QStringLiteral("Bench \u00e4, 2026-03-01"));
    QVERIFY(!ReadCalibrationFile(dir.filePath("none.json"), &back, &why));
    QVERIFY(why.startsWith("cannot read "));
}

void TestCalibration::dialogFields()
{
    QTemporaryDir dir;
    CalibrationDialog dialog{Calibration()};
    Calibration c;
    QString why;
    // Every field empty: no calibration.
    QVERIFY(dialog.readFields(&c, &why));
    QVERIFY(!c.loaded);

    dialog.name->setText(QStringLiteral("Desk"));
    dialog.date->setText(QStringLiteral("2026-03-01"));
    dialog.offset[int(DelayPath::Src2Rf)]->setText(QStringLiteral("0,0412")); // a German desktop's comma
    dialog.uncertainty[int(DelayPath::Src2Rf)]->setText(QStringLiteral("0.0015"));
    dialog.offset[int(DelayPath::Src2Hd)]->setText(QStringLiteral("-2"));
    QVERIFY2(dialog.readFields(&c, &why), qPrintable(why));
    QVERIFY(c.loaded);
    QCOMPARE(c.of(DelayPath::Src2Rf).offsetMs, 0.0412);
    QCOMPARE(c.of(DelayPath::Src2Hd).uncertaintyMs, 0.0); // left empty: 0
    QVERIFY(!c.of(DelayPath::Src2Snk).set);
    QCOMPARE(c.timeBasePpm, DefaultTimeBasePpm);

    // Saved and loaded again into a fresh dialog: the same calibration.
    QVERIFY(dialog.saveFile(dir.filePath("saved.json")).isEmpty());
    CalibrationDialog other{Calibration()};
    QVERIFY(other.loadFile(dir.filePath("saved.json")).isEmpty());
    Calibration loaded;
    QVERIFY(other.readFields(&loaded, &why));
    QCOMPARE(CalibrationJson(loaded), CalibrationJson(c));

    // Out of bounds or no number: refused as a file would be, and OK keeps the dialog open.
    dialog.uncertainty[int(DelayPath::Src2Rf)]->setText(QStringLiteral("-1"));
    QVERIFY(!dialog.readFields(&c, &why));
    QVERIFY2(why.contains("paths.src2Rf.uncertaintyMs must be a number"), qPrintable(why));
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(!dialog.problem->text().isEmpty());
    dialog.timeBase->setText(QStringLiteral("fast"));
    QVERIFY(!dialog.readFields(&c, &why));
    QVERIFY(why.startsWith("Time base"));
    QVERIFY(dialog.loadFile(dir.filePath("none.json")).startsWith("cannot read"));

    // Clear, then OK: no calibration.
    dialog.clearFields();
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.calibration().loaded);
    QVERIFY(!dialog.saveFile(dir.filePath("empty.json")).isEmpty());
}

void TestCalibration::keptBesideSettings()
{
    QTemporaryDir dir;
    const QString settings = dir.filePath("Velmarsk/QuenviaCodecTiming.cfg");
    QCOMPARE(RememberedCalibrationFile(settings), dir.filePath("Velmarsk/QuenviaCodecTiming.calibration.json"));
    Calibration c;
    QString why;
    QVERIFY(LoadRememberedCalibration(settings, &c, &why)); // none kept: no calibration
    QVERIFY(!c.loaded);
    c.loaded = true;
    c.name = QStringLiteral("kept");
    QVERIFY(RememberCalibration(settings, c).isEmpty());
    Calibration back;
    QVERIFY(LoadRememberedCalibration(settings, &back, &why));
    QCOMPARE(back.name, QStringLiteral("kept"));
    QVERIFY(!QFileInfo::exists(settings)); // the settings file is not touched
    QVERIFY(RememberCalibration(settings, Calibration()).isEmpty());
    QVERIFY(!QFileInfo::exists(RememberedCalibrationFile(settings)));

    // A kept file that is no calibration is reported, not used.
    QFile bad(RememberedCalibrationFile(settings));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("{}");
    bad.close();
    QVERIFY(!LoadRememberedCalibration(settings, &back, &why));
    QVERIFY2(why.contains("schemaVersion is missing"), qPrintable(why));
}

QTEST_MAIN(TestCalibration)
#include "tst_calibration.moc"
