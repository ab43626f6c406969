// How a run ends when acquisitions keep being rejected, when the operator
// cancels, and when an instrument stops answering or drops the connection:
// it always ends, puts the instruments back into free run, keeps what was
// measured and still shows the graph.
#include "runbench.h"

#include "instruments/visasession.h"
#include "shared/measstate.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QDir>
#include <QStatusBar>

#include <cmath>
#include <cstring>

using benchsim::Fault;

// Calls the window's private slots directly.
class MainWindowProbe
{
public:
    static int Meas(MainWindow *w) { return w->Meas(&d1, &d2, &d3, &t); }
};

namespace {

Fault MakeFault(const QString &instrument, const QByteArray &pattern, Fault::Kind kind, int occurrence = 0)
{
    Fault fault;
    fault.instrument = instrument;
    fault.pattern = pattern;
    fault.kind = kind;
    fault.occurrence = occurrence;
    return fault;
}

benchsim::Scenario Orvix()
{
    benchsim::Scenario scenario;
    scenario.oscType = "Orvix";
    scenario.jitterMs = 2.0;
    return scenario;
}

QByteArray ResultsOf(const RunBench &b)
{
    const QStringList files = b.written("data*Results.txt");
    if (files.size() != 1)
        return QByteArray("<%1 results files>").replace("%1", QByteArray::number(files.size()));
    QFile f(files.first());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

int Lines(const QByteArray &text, const char *head)
{
    for (const QByteArray &line : text.split('\n'))
        if (line.startsWith(head))
            return line.mid(int(qstrlen(head))).split(' ').size() - 1;
    return -1;
}

} // namespace

class TestMeasFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void twentyRejectionsStopTheRun_data();
    void twentyRejectionsStopTheRun();
    void cancelEndsAfterTheCurrentExchange();
    void noMeasurementRequested_data();
    void noMeasurementRequested();
    void oscilloscopeDropsTheConnection();
    void instrumentStopsAnswering_data();
    void instrumentStopsAnswering();
    void triggerThatNeverFires();
    void videoAnalyzerWithoutReading_data();
    void videoAnalyzerWithoutReading();
    void unwritableResultsFile();
    void readOnlyDataFolder();
    void readOnlyWorkingFolder();

private:
    QTemporaryDir home;
};

void TestMeasFaults::initTestCase()
{
    QVERIFY(home.isValid());
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath("share").toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
}

void TestMeasFaults::twentyRejectionsStopTheRun_data()
{
    QTest::addColumn<int>("measuredBefore");
    QTest::addColumn<bool>("earlierRun"); // a run that kept measurements came first
    QTest::newRow("from the start") << 0 << false;
    QTest::newRow("after one measurement") << 1 << false;
    // Nothing of the earlier run may be shown as this run's.
    QTest::newRow("after an earlier run") << 0 << true;
}

void TestMeasFaults::twentyRejectionsStopTheRun()
{
    QFETCH(int, measuredBefore);
    QFETCH(bool, earlierRun);
    benchsim::Scenario scenario = Orvix();
    scenario.rejectFirst = measuredBefore == 0 && !earlierRun ? 20 : 0;
    RunBench b(scenario, false, false);
    QVERIFY2(b.started, qPrintable(b.error));
    QVERIFY(b.initialise());
    if (earlierRun) {
        b.start(2);
        QVERIFY(b.watcher.graph.shown && b.watcher.graph.points[0] > 0 && !b.watcher.graph.markerLabels.isEmpty());
        QDir(b.dir.path()).removeRecursively();
        QDir().mkpath(b.dir.path());
        b.watcher.graph = GraphSeen();
        b.bench.clearLog();
    }
    // From this run's second acquisition on (from its first after an earlier
    // run), channel 1 answers with no block; faults count from here.
    for (int k = 1 + measuredBefore; (measuredBefore > 0 || earlierRun) && k <= 30; ++k)
        b.bench.addFault(MakeFault("osc", "CHAN1:DATA?", Fault::Kind::Garbage, k));

    b.start(3);

    QCOMPARE(b.watcher.boxTexts.size(), 1);
    QVERIFY2(b.watcher.boxTexts.first().contains(QStringLiteral("after %1 of 3 measurements").arg(measuredBefore)),
             qPrintable(b.watcher.boxTexts.first()));
    QVERIFY(b.watcher.boxTexts.first().contains("20 acquisitions in a row"));
    QVERIFY(b.watcher.boxTexts.first().contains(measuredBefore == 0 && !earlierRun ? "-0.05 V and 0.3 V" : "no new trace"));
    QCOMPARE(b.sent("osc").last(), QStringLiteral("RUNC;*OPC?"));
    QCOMPARE(b.sent("sa").last(), QStringLiteral("INIT:CONT ON;*OPC?"));
    QCOMPARE(b.sent("sa").count("INIT:CONT OFF;*OPC?"), 20 + measuredBefore);

    const QByteArray results = ResultsOf(b);
    QCOMPARE(Lines(results, "Source2RF Delay:"), measuredBefore);
    QCOMPARE(Lines(results, "Source2Snk Delay:"), measuredBefore);
    QCOMPARE(b.written("data*.bin").size(), 3 * measuredBefore);
    if (measuredBefore == 0)
        QVERIFY(results.endsWith("Source2Snk Mean: nan"));
    QVERIFY(b.watcher.graph.shown);
    // No traces or edge marks from an earlier run: empty curves, and boxes
    // without a value.
    QCOMPARE(b.watcher.graph.markerLabels.isEmpty(), measuredBefore == 0);
    if (measuredBefore == 0) {
        QCOMPARE(b.watcher.graph.points[0] + b.watcher.graph.points[1] + b.watcher.graph.points[2], 0);
        QCOMPARE(b.watcher.graph.src2Snk, QStringLiteral("nan"));
        QVERIFY(d1.isEmpty() && d2.isEmpty() && d3.isEmpty() && t.isEmpty());
    }
}

void TestMeasFaults::cancelEndsAfterTheCurrentExchange()
{
    benchsim::Scenario scenario = Orvix();
    scenario.acquisitionMs = 30;
    RunBench b(scenario, false, true);
    QVERIFY2(b.started, qPrintable(b.error));
    QVERIFY(b.initialise());
    b.watcher.onProgress = [&b](QProgressDialog *progress) {
        if (b.bench.truths().size() >= 2 && !progress->wasCanceled())
            progress->cancel();
    };

    b.start(5);

    // The measurement under way is dropped, the ones before it kept.
    const int acquired = b.bench.truths().size();
    QVERIFY(acquired >= 2 && acquired < 5);
    QCOMPARE(Lines(ResultsOf(b), "Source2RF Delay:"), acquired - 1);
    QCOMPARE(b.written("data*.bin").size(), 3 * (acquired - 1));
    QVERIFY(b.watcher.boxTexts.isEmpty());
    QCOMPARE(b.window->statusBar()->currentMessage(),
             QStringLiteral("Canceled after %1 of 5 measurements").arg(acquired - 1));
    QCOMPARE(b.sent("osc").last(), QStringLiteral("RUNC;*OPC?"));
    QCOMPARE(b.sent("sa").last(), QStringLiteral("INIT:CONT ON;*OPC?"));
    QVERIFY(b.watcher.graph.shown);
    QVERIFY(std::isfinite(AvgSrc2Rf));
    // The graph shows the last kept measurement, not the dropped acquisition.
    const QStringList sources = b.written(QStringLiteral("data*_%1_src.bin").arg(acquired - 1, 3, 10, QChar('0')));
    QCOMPARE(sources.size(), 1);
    QFile kept(sources.first());
    QVERIFY(kept.open(QIODevice::ReadOnly));
    const QByteArray bytes = kept.readAll();
    QCOMPARE(bytes.size(), int(sizeof(double)) * d1.size());
    QVERIFY(std::memcmp(bytes.constData(), d1.constData(), size_t(bytes.size())) == 0);
}

// A count that is no count starts nothing: no command, no file, and no
// graph that would show the previous run's traces as new.
void TestMeasFaults::noMeasurementRequested_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("zero") << "0";
    QTest::newRow("letters") << "abc";
    QTest::newRow("negative") << "-3";
    QTest::newRow("fraction") << "2.5";
    QTest::newRow("empty") << "";
}

void TestMeasFaults::noMeasurementRequested()
{
    QFETCH(QString, typed);
    RunBench b(Orvix(), false, false);
    QVERIFY2(b.started, qPrintable(b.error));
    QVERIFY(b.initialise());
    b.form->MeasCnt->setText(typed);
    QTest::mouseClick(b.form->Start, Qt::LeftButton);

    QVERIFY(b.bench.log().isEmpty());
    QVERIFY(b.watcher.progressLabels.isEmpty());
    QCOMPARE(b.watcher.boxTexts.size(), 1);
    QVERIFY2(b.watcher.boxTexts.first().contains("whole number from 1"), qPrintable(b.watcher.boxTexts.first()));
    QVERIFY(b.written("data*").isEmpty());
    QVERIFY(!b.watcher.graph.shown);
}

// A dropped connection ends the run at once, names the instrument, frees
// the instruments still connected and keeps the measurement it had.
void TestMeasFaults::oscilloscopeDropsTheConnection()
{
    RunBench b(Orvix(), false, false);
    QVERIFY2(b.started, qPrintable(b.error));
    QVERIFY(b.initialise());
    b.bench.addFault(MakeFault("osc", "*TRG", Fault::Kind::Close, 2));

    QElapsedTimer clock;
    clock.start();
    b.start(3);

    QVERIFY(clock.elapsed() < 2000);
    QCOMPARE(b.watcher.boxTexts.size(), 1);
    QVERIFY2(b.watcher.boxTexts.first().contains("after 1 of 3 measurements: the oscilloscope closed the connection"),
             qPrintable(b.watcher.boxTexts.first()));
    // No retries against the closed session; the analyzer is set free.
    QCOMPARE(b.sent("osc").count("*TRG;*OPC?"), 2);
    QCOMPARE(b.sent("sa").last(), QStringLiteral("INIT:CONT ON;*OPC?"));
    QVERIFY(b.window->statusBar()->currentMessage().startsWith("Stopped after 1 of 3 measurements"));
    QCOMPARE(Lines(ResultsOf(b), "Source2Snk Delay:"), 1);
    QVERIFY(b.watcher.graph.shown);
    QCOMPARE(b.watcher.graph.points[0], b.bench.truths().first().points);

    // Its session is gone: the button asks for a new set-up, and says why;
    // the analyzer, still connected, stays ready.
    QCOMPARE(b.form->OsInit->text(), QStringLiteral("Init"));
    QCOMPARE(b.window->OsHdl, ViSession(0));
    QCOMPARE(b.form->SaInit->text(), QStringLiteral("Ready"));
    QVERIFY(!b.form->Start->isEnabled());
    QVERIFY2(b.window->statusBar()->currentMessage().endsWith(" — Oscilloscope: connection closed, Init again"),
             qPrintable(b.window->statusBar()->currentMessage()));
    b.bench.clearFaults();
    QTest::mouseClick(b.form->OsInit, Qt::LeftButton);
    QCOMPARE(b.form->OsInit->text(), QStringLiteral("Ready"));
    QVERIFY(b.form->Start->isEnabled());
}

void TestMeasFaults::instrumentStopsAnswering_data()
{
    QTest::addColumn<QString>("instrument");
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<int>("measured");
    QTest::addColumn<QString>("nanLine"); // the delay line whose 2nd value is nan
    QTest::addColumn<QString>("lostTrace"); // measurement 2's trace file that must stay empty

    // A lost sink or RF trace costs that measurement its delay, not the run;
    // its trace file is left empty rather than filled with an older trace.
    QTest::newRow("sink read of measurement 2")
        << "osc" << QByteArray("CHAN2:DATA?") << 3 << "Source2Snk Delay:" << "snk";
    QTest::newRow("analyzer trace of measurement 2")
        << "sa" << QByteArray("TRAC? TRACE1") << 3 << "Source2RF Delay:" << "rf";
    // An acquisition that never answers is taken again, 20 times at most.
    QTest::newRow("every trigger from the 2nd on") << "osc" << QByteArray("*TRG") << 1 << "" << "";
}

void TestMeasFaults::instrumentStopsAnswering()
{
    QFETCH(QString, instrument);
    QFETCH(QByteArray, pattern);
    QFETCH(int, measured);
    QFETCH(QString, nanLine);
    QFETCH(QString, lostTrace);

    RunBench b(Orvix(), false, false);
    QVERIFY2(b.started, qPrintable(b.error));
    QVERIFY(b.initialise());
    // Short I/O time-outs keep twenty unanswered acquisitions quick.
    QCOMPARE(VisaSetAttribute(b.window->OsHdl, VI_ATTR_TMO_VALUE, 300), VI_SUCCESS);
    QCOMPARE(VisaSetAttribute(b.window->SaHdl, VI_ATTR_TMO_VALUE, 300), VI_SUCCESS);
    if (nanLine.isEmpty()) {
        for (int k = 2; k <= 30; ++k)
            b.bench.addFault(MakeFault(instrument, pattern, Fault::Kind::NoReply, k));
    } else {
        b.bench.addFault(MakeFault(instrument, pattern, Fault::Kind::NoReply, 2));
    }

    QElapsedTimer clock;
    clock.start();
    b.start(3);

    QVERIFY(clock.elapsed() < 30 * 300 + 5000);
    const QByteArray results = ResultsOf(b);
    QCOMPARE(Lines(results, "Source2RF Delay:"), measured);
    if (!nanLine.isEmpty()) {
        QVERIFY(b.watcher.boxTexts.isEmpty());
        for (const QByteArray &line : results.split('\n')) {
            if (line.startsWith(nanLine.toLatin1())) {
                const QList<QByteArray> values = line.mid(nanLine.size() + 1).split(' ');
                QCOMPARE(values.at(1), QByteArray("nan"));
                QVERIFY(values.at(0) != "nan" && values.at(2) != "nan");
            }
        }
        for (int k = 1; k <= 3; ++k) {
            const QStringList files = b.written(QStringLiteral("data*_%1_%2.bin").arg(k, 3, 10, QChar('0')).arg(lostTrace));
            QCOMPARE(files.size(), 1);
            QCOMPARE(QFileInfo(files.first()).size(), k == 2 ? 0 : qint64(sizeof(double)) * NumPts);
        }
    } else {
        QCOMPARE(b.watcher.boxTexts.size(), 1);
        // Once an acquisition timed out, the progress says what to check.
        const QString hint = QStringLiteral("No acquisition is triggering: check the trigger level and the source signal");
        QVERIFY(!b.watcher.progressLabels.first().contains(hint));
        QVERIFY(b.watcher.progressLabels.last().endsWith("\n" + hint));
    }
    QVERIFY(b.watcher.graph.shown);
}

// A new user's trigger level above the source step: nothing ever triggers.
// From the first time-out on the progress dialog says what to check, long
// before the twenty retries are up; Cancel then ends the run.
void TestMeasFaults::triggerThatNeverFires()
{
    RunBench b(Orvix(), false, false);
    QVERIFY2(b.started, qPrintable(b.error));
    b.form->OsTrgLvl->setText("0.5");
    QVERIFY(b.initialise());
    QCOMPARE(VisaSetAttribute(b.window->OsHdl, VI_ATTR_TMO_VALUE, 300), VI_SUCCESS);
    int acquisitionsWhenSaid = -1;
    b.watcher.onProgress = [&](QProgressDialog *progress) {
        if (progress->labelText().contains("check the trigger level") && !progress->wasCanceled()) {
            acquisitionsWhenSaid = b.sent("osc").count("*TRG;*OPC?");
            progress->cancel();
        }
    };

    b.start(2);

    QCOMPARE(acquisitionsWhenSaid, 1);
    QVERIFY(b.window->statusBar()->currentMessage().startsWith("Canceled after 0 of 2 measurements"));
}

void TestMeasFaults::videoAnalyzerWithoutReading_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("failing"); // a query that gets no reply
    QTest::newRow("status 0") << 0 << QByteArray();
    QTest::newRow("value query unanswered") << 1 << QByteArray("READ:AVDA:TTV:VAL?");
}

// A missing reading is nan, so it does not pull the mean towards 0.
void TestMeasFaults::videoAnalyzerWithoutReading()
{
    QFETCH(int, status);
    QFETCH(QByteArray, failing);
    benchsim::Scenario scenario = Orvix();
    scenario.vaStat = status;
    scenario.vaValue = 35.0;
    RunBench b(scenario, false, true);
    QVERIFY2(b.started, qPrintable(b.error));
    QVERIFY(b.initialise());
    QCOMPARE(VisaSetAttribute(b.window->VaHdl, VI_ATTR_TMO_VALUE, 300), VI_SUCCESS);
    if (!failing.isEmpty())
        b.bench.addFault(MakeFault("va", failing, Fault::Kind::NoReply, 1));

    b.start(2);

    const QByteArray results = ResultsOf(b);
    const QByteArray expected = status == 0 ? "Source2HD Delay: nan nan\nSource2HD Mean: nan\n"
                                            : "Source2HD Delay: nan 35\nSource2HD Mean: 35\n";
    QVERIFY2(results.contains(expected), results.constData());
    QCOMPARE(b.watcher.graph.src2Hd, status == 0 ? QStringLiteral("nan") : QStringLiteral("35.000"));
}

// A results file that cannot be written fails the run's files, not the run.
void TestMeasFaults::unwritableResultsFile()
{
    RunBench b(Orvix(), false, false);
    QVERIFY2(b.started, qPrintable(b.error));
    QVERIFY(b.initialise());
    // A folder that cannot be made: a file stands where it would go.
    QFile blocker(b.dir.filePath("missing"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    b.window->DataDir = b.dir.filePath("missing/data");
    b.form->MeasCnt->setText("2");

    QCOMPARE(MainWindowProbe::Meas(b.window.get()), -1);
    QVERIFY(QDir(b.dir.path()).entryList({"*Results*", "*.bin"}, QDir::Files).isEmpty());
    QVERIFY(std::isfinite(AvgSrc2Snk));
    QCOMPARE(b.sent("osc").last(), QStringLiteral("RUNC;*OPC?"));
}

// Save Data into a folder that cannot be written: the run and its graph
// stand, and the operator is told which file failed and why; leaving then
// says the settings could not be saved either, and still closes.
void TestMeasFaults::readOnlyDataFolder()
{
    RunBench b(Orvix(), false, false);
    QVERIFY2(b.started, qPrintable(b.error));
    QVERIFY(b.initialise());
    const QString folder = b.dir.filePath("ro");
    QVERIFY(QDir().mkpath(folder));
    b.window->DataDir = folder + "/data";
    b.window->CfgFile = folder + "/settings.cfg";
    Unwritable readOnly(folder);
    if (!readOnly.ok())
        QSKIP("cannot make a folder read-only here");

    b.start(3);

    QVERIFY(b.watcher.graph.shown);
    QCOMPARE(b.watcher.boxTexts.size(), 1);
    const QString text = b.watcher.boxTexts.first();
    QVERIFY2(text.startsWith("Could not write " + folder + "/data") && text.contains("Results.txt: "), qPrintable(text));
    QCOMPARE(b.window->statusBar()->currentMessage(), QStringLiteral("3 of 3 measurements"));
    QVERIFY(std::isfinite(AvgSrc2Snk));

    b.window.reset();
    QCOMPARE(b.watcher.boxTitles.size(), 2);
    QCOMPARE(b.watcher.boxTitles.last(), QStringLiteral("Settings Not Saved"));
    QVERIFY2(b.watcher.boxTexts.last().startsWith("Could not write " + folder + "/settings.cfg: "),
             qPrintable(b.watcher.boxTexts.last()));
}

// "Trace.tmp" that cannot be created is the working folder's fault, not the
// instrument's: the run stops at the first block and says so.
void TestMeasFaults::readOnlyWorkingFolder()
{
    RunBench b(Orvix(), false, false);
    QVERIFY2(b.started, qPrintable(b.error));
    QVERIFY(b.initialise());
    QTemporaryDir data; // the results still have somewhere to go
    b.window->DataDir = data.filePath("data");
    Unwritable readOnly(b.dir.path());
    if (!readOnly.ok())
        QSKIP("cannot make a folder read-only here");

    b.start(3);

    QCOMPARE(b.sent("osc").count("*TRG;*OPC?"), 1);
    QCOMPARE(b.sent("osc").last(), QStringLiteral("RUNC;*OPC?"));
    QCOMPARE(b.watcher.boxTexts.size(), 1);
    const QString text = b.watcher.boxTexts.first();
    QVERIFY2(text.contains("after 0 of 3 measurements: could not write Trace.tmp in " + QDir(b.dir.path()).absolutePath() + ": "),
             qPrintable(text));
    QVERIFY(!QFile::exists(b.dir.filePath("Trace.tmp")));
    QCOMPARE(QDir(data.path()).entryList({"data*Results.txt"}, QDir::Files).size(), 1);
}

QTEST_MAIN(TestMeasFaults)
#include "tst_measfaults.moc"
