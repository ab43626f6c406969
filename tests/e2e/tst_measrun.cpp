// A run started from the window's own Start button against the simulated
// bench: the commands each measurement sends, the delays against the delays
// the bench played, the results and trace files, and the graph; the run's
// record and delay table read back by an independent reader, and the
// Statistics window during and after the graph.
#include "runbench.h"

#include "app/calibrationstore.h"
#include "graph/delaytablemodel.h"
#include "app/datapaths.h"
#include "graph/statisticswindow.h"
#include "measurement/delaycalc.h"
#include "measurement/tracefiles.h"
#include "measurement/resultsfile.h"
#include "measurement/runjson.h"
#include "measurement/runwriter.h"
#include "measurement/uncertaintytext.h"
#include "measurement/tracefileformat.h"
#include "shared/measstate.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStatusBar>
#include <QLabel>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>

#include <algorithm>
#include <cmath>

namespace {

QStringList AcquisitionOsc(bool benlo)
{
    if (benlo)
        return {"SING;*OPC?", "FORM REAL,32;*OPC?", "*TRG;*OPC?", "CHAN1:DATA?"};
    return {"INIT:CONT OFF;*OPC?", "*TRG;*OPC?", "FORM REAL,32;*OPC?", "CHAN1:DATA?"};
}

// Every message of a run whose first `rejected` acquisitions are taken
// again, across the three instruments in the order sent. The order between
// instruments matters: the analyzer's sweep must be stopped before the
// oscilloscope triggers it, and it learns the record length only from the
// channel-1 read.
QStringList ExpectedWire(bool benlo, bool ifDemod, bool hdmi, int pts, int rejected, int accepted)
{
    QStringList w;
    const QString points = QString::number(pts);
    for (int a = 0; a < rejected + accepted; ++a) {
        w << "sa: INIT:CONT OFF;*OPC?";
        for (const QString &c : AcquisitionOsc(benlo))
            w << "osc: " + c;
        if (benlo)
            w << "sa: SWE:POIN " + points + ";*OPC?";
        if (a < rejected)
            continue;
        if (ifDemod)
            w << "osc: CHAN3:DATA?";
        else
            w << "sa: FORM REAL,32;*OPC?"
              << "sa: TRAC? TRACE1, " + points;
        if (hdmi)
            w << "va: READ:AVDA:TTV:STAT?" << "va: READ:AVDA:TTV:COUN?" << "va: READ:AVDA:TTV:VAL?";
        w << "osc: CHAN2:DATA?";
    }
    w << (benlo ? "osc: RUN;*OPC?" : "osc: RUNC;*OPC?") << "sa: INIT:CONT ON;*OPC?";
    return w;
}

// A click that goes through the window system, so a window blocked by a
// modal dialog does not get it.
void ClickCell(StatisticsWindow *w, int row, int column)
{
    w->table->scrollTo(w->model->index(row, column)); // a narrow window shows part of the table
    const QRect cell = w->table->visualRect(w->model->index(row, column));
    QTest::mouseClick(w->windowHandle(), Qt::LeftButton, Qt::NoModifier, w->table->viewport()->mapTo(w, cell.center()));
}

QVector<double> Load(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? DecodeTrace(f.readAll()) : QVector<double>();
}

} // namespace

class TestMeasRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void run_data();
    void run();
    void recordTableAndStatistics();
    void filesAsTheRunGoes();
    void interruptedRunFinishedAtStart();
    void startRefusedAfterTypeChange();

private:
    QTemporaryDir home;
};

void TestMeasRun::initTestCase()
{
    QVERIFY(home.isValid());
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath("share").toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
}

void TestMeasRun::run_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("ifDemod");
    QTest::addColumn<bool>("hdmi");
    QTest::addColumn<int>("rejectFirst");
    QTest::addColumn<int>("transport");
    // Channel 3 switched on by hand before the set-up: the Benlo set-up
    // never switches it on itself, the Orvix set-up must do it alone.
    QTest::addColumn<bool>("panelChan3");
    const int socket = int(RunTransport::Socket);

    for (const char *type : {"Orvix", "Benlo"}) {
        const bool benlo = QByteArray(type) == "Benlo";
        for (bool ifDemod : {false, true}) {
            for (bool hdmi : {false, true}) {
                QTest::addRow("%s, IF demod %s, HDMI %s", type, ifDemod ? "on" : "off", hdmi ? "on" : "off")
                    << QString(type) << ifDemod << hdmi << 0 << socket << benlo;
            }
        }
    }
    // Rejected acquisitions are taken again and leave no trace in the results.
    QTest::newRow("Orvix, 4 rejected first") << "Orvix" << false << true << 4 << socket << false;
    QTest::newRow("Benlo, 19 rejected first") << "Benlo" << false << false << 19 << socket << true;
    // The same run over VXI-11 links and HiSLIP sessions instead of raw sockets.
    QTest::newRow("Orvix over VXI-11") << "Orvix" << true << true << 1 << int(RunTransport::Vxi11) << false;
    QTest::newRow("Benlo over VXI-11") << "Benlo" << false << true << 0 << int(RunTransport::Vxi11) << true;
    QTest::newRow("Orvix over HiSLIP") << "Orvix" << true << true << 1 << int(RunTransport::Hislip) << false;
    QTest::newRow("Benlo over HiSLIP") << "Benlo" << false << true << 0 << int(RunTransport::Hislip) << true;
    // Nobody switched channel 3 on: no RF envelope, no Source->RF delay, and
    // the run still ends with its files and graph.
    QTest::newRow("Benlo, IF demod on, channel 3 off") << "Benlo" << true << true << 0 << socket << false;
}

void TestMeasRun::run()
{
    QFETCH(QString, type);
    QFETCH(bool, ifDemod);
    QFETCH(bool, hdmi);
    QFETCH(int, rejectFirst);
    QFETCH(int, transport);
    QFETCH(bool, panelChan3);
    const int count = 3;

    benchsim::Scenario scenario;
    scenario.oscType = type;
    scenario.src2RfMs = 40.0;
    scenario.src2SnkMs = 120.0;
    scenario.jitterMs = 4.0;
    scenario.seed = 7;
    scenario.rejectFirst = rejectFirst;
    scenario.vaValue = 35.5;
    if (panelChan3)
        scenario.frontPanelChannels = {3};
    RunBench b(scenario, ifDemod, hdmi, RunTransport(transport));
    QVERIFY2(b.started, qPrintable(b.error));
    QVERIFY(b.initialise());

    b.start(count);

    // Every acquisition the bench made, in order; the accepted ones recorded.
    const QVector<benchsim::Truth> truths = b.bench.truths();
    QCOMPARE(truths.size(), rejectFirst + count);
    const int pts = truths.first().points;
    const bool benlo = type == "Benlo";
    QCOMPARE(b.sentInOrder(), ExpectedWire(benlo, ifDemod, hdmi, pts, rejectFirst, count));
    QCOMPARE(NumPts, pts);
    QVERIFY(b.watcher.boxTexts.isEmpty());
    QCOMPARE(b.watcher.progressLabels.last().section(QLatin1Char('\n'), 0, 0), QStringLiteral("Measurement 3 of 3"));

    // Files: one results file, a triple of trace files per measurement, each
    // holding its own acquisition.
    const QStringList results = b.written("data*Results.txt");
    QCOMPARE(results.size(), 1);
    const QString stamp = QFileInfo(results.first()).fileName().mid(4, 20);
    QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d_$").match(stamp).hasMatch(),
             qPrintable(stamp));
    QCOMPARE(b.written("data*.bin").size(), 3 * count);

    // Read from channel 3, the RF envelope is there only when someone
    // switched that channel on.
    const bool rfSeen = !(benlo && ifDemod && !panelChan3);
    const QVector<double> axis = BuildTimeAxis(pts, OscTypeOf(benlo ? 1 : 0));
    QVector<double> rf, hd, snk;
    for (int k = 1; k <= count; ++k) {
        const benchsim::Truth &truth = truths[rejectFirst + k - 1];
        QVERIFY(truth.accepted);
        const QString dataDir = b.dir.filePath("data");
        const QVector<double> src = Load(TraceFileName(dataDir, stamp, k, TraceKind::Source));
        const QVector<double> env = Load(TraceFileName(dataDir, stamp, k, TraceKind::Rf));
        const QVector<double> sink = Load(TraceFileName(dataDir, stamp, k, TraceKind::Sink));
        for (TraceKind kind : {TraceKind::Source, TraceKind::Rf, TraceKind::Sink})
            QCOMPARE(QFileInfo(TraceFileName(dataDir, stamp, k, kind)).size(), qint64(8) * pts);
        QCOMPARE(src.size(), pts);
        QCOMPARE(env.size(), pts);
        QCOMPARE(sink.size(), pts);

        const DelayResult r = CalcDelays(pts, src, env, sink, axis, OscTypeOf(benlo ? 1 : 0));
        const double rfPeriodMs = 1000.0 * (ifDemod ? truth.timePerSample : truth.saTimePerSample);
        const double periodMs = 1000.0 * truth.timePerSample;
        // Each file pair holds the edges of its own acquisition ...
        QCOMPARE(r.tsrc, axis[truth.srcIndex]);
        QCOMPARE(r.tsnk, axis[truth.snkIndex]);
        if (rfSeen) {
            // The burst's first sample, on channel 3 or in an analyzer trace
            // of as many points as the record.
            if (!ifDemod)
                QCOMPARE(truth.saPoints, pts);
            QCOMPARE(r.trf, SampleTime(ifDemod ? truth.rfIndex : truth.saRfIndex, pts, OscTypeOf(benlo ? 1 : 0)));
        }
        // ... and the delays found in it are the played ones to one sample period.
        if (rfSeen)
            QVERIFY2(std::fabs(r.Src2Rf - truth.src2RfMs) <= qMax(periodMs, rfPeriodMs) + 1e-9,
                     qPrintable(QString("%1 vs %2").arg(r.Src2Rf).arg(truth.src2RfMs)));
        else
            QVERIFY(std::isnan(r.Src2Rf));
        QVERIFY2(std::fabs(r.Src2Snk - truth.src2SnkMs) <= periodMs + 1e-9,
                 qPrintable(QString("%1 vs %2").arg(r.Src2Snk).arg(truth.src2SnkMs)));
        rf << r.Src2Rf;
        snk << r.Src2Snk;
        hd << (hdmi ? 35.5 : 0.0);
    }
    if (count > 1)
        QVERIFY(truths[rejectFirst].src2SnkMs != truths[rejectFirst + 1].src2SnkMs); // jitter played

    QFile file(results.first());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), ResultsText(rf, FiniteMean(rf), hd, FiniteMean(hd), snk, FiniteMean(snk)));
    QCOMPARE(std::isnan(AvgSrc2Rf), !rfSeen);
    if (rfSeen)
        QCOMPARE(AvgSrc2Rf, FiniteMean(rf));
    QCOMPARE(AvgSrc2Snk, FiniteMean(snk));

    // The graph shows the last measurement, on a plot as the dialog is described.
    const GraphSeen &g = b.watcher.graph;
    QVERIFY(g.shown);
    QVERIFY(g.plainPlot);
    QCOMPARE(g.points[0], pts);
    QCOMPARE(g.points[1], pts);
    QCOMPARE(g.points[2], pts);
    QCOMPARE(g.markerXs, (rfSeen ? QList<double>{tsrc, trf, tsnk} : QList<double>{tsrc, tsnk}));
    QCOMPARE(std::isnan(trf), !rfSeen);
    QCOMPARE(g.markerLabels.first(), "tsrc = " + QString::number(tsrc, 'g', 6) + " s");
    QCOMPARE(g.src2Rf, rfSeen ? QString::number(FiniteMean(rf), 'f', 3) : QStringLiteral("nan"));
    QCOMPARE(g.src2Snk, QString::number(FiniteMean(snk), 'f', 3));
    QCOMPARE(g.src2Hd, hdmi ? QStringLiteral("35.500") : QStringLiteral("0.000"));
    QCOMPARE(g.hdEnabled, hdmi);
}

// Jitter, two acquisitions rejected and the third analyzer trace not read:
// the record and delay table checked field by field by check_run_record.py
// (Python's json and csv only) against the bench's truth, the results file
// and docs/run-record.md; the Statistics window usable while the graph is
// modal and after it, following the next run, gone with the main window.
void TestMeasRun::recordTableAndStatistics()
{
    benchsim::Scenario scenario;
    scenario.jitterMs = 4.0;
    scenario.seed = 11;
    scenario.rejectFirst = 2;
    scenario.vaValue = 35.5;
    scenario.faults = {benchsim::Fault{"sa", "TRAC? TRACE1", 3, benchsim::Fault::Kind::Garbage, 0}};
    QPointer<StatisticsWindow> stats;
    {
        RunBench b(scenario, false, true);
        QVERIFY2(b.started, qPrintable(b.error));
        b.form->SaRst->setChecked(true);
        b.form->VaThres->setText("42.5");
        // A calibration kept beside the settings file, as the window finds it at start.
        Calibration calibration;
        QString why;
        QVERIFY2(ParseCalibration(R"({"schemaVersion": 1, "name": "Bench 7", "date": "2026-03-01",
                                      "measuredWith": "photodiode", "timeBasePpm": 10,
                                      "paths": {"src2Snk": {"offsetMs": 0.25, "uncertaintyMs": 0.002},
                                                "src2Hd": {"offsetMs": -1.5, "uncertaintyMs": 0.1}}})",
                                  &calibration, &why),
                 qPrintable(why));
        const QString kept = RememberedCalibrationFile(b.window->CfgFile);
        QVERIFY(RememberCalibration(b.window->CfgFile, calibration).isEmpty());
        b.window->LoadCalibrationInUse();
        QCOMPARE(b.form->CalStatus->text(), QStringLiteral("Bench 7, 2026-03-01"));
        QVERIFY(b.initialise());
        QString selectedWhileModal;
        b.watcher.onGraph = [&](Graph *g) {
            g->statisticsButton->click();
            stats = g->statisticsWindow();
            if (stats && QTest::qWaitForWindowExposed(stats)) {
                ClickCell(stats, 1, DelayTableModel::SnkColumn);
                selectedWhileModal = stats->table->currentIndex().data().toString();
            }
        };
        b.start(5);

        // Under "Measurement 5 of 5": the means of the four kept so far and
        // the two acquisitions taken again.
        const QStringList progress = b.watcher.progressLabels.last().split('\n');
        QCOMPARE(progress.value(0), QStringLiteral("Measurement 5 of 5"));
        QVERIFY2(QRegularExpression("^Means so far: Source->RF \\d+\\.\\d ms, Source->HDMI 35.5 ms, Source->Sink \\d+\\.\\d ms$")
                     .match(progress.value(1)).hasMatch(), qPrintable(progress.value(1)));
        QVERIFY(progress.value(2).startsWith(QStringLiteral("Retaken so far: 2")));
        QVERIFY(stats);
        QCOMPARE(selectedWhileModal, QString::number(LastRun.measurements[1].src2Snk, 'f', 3));
        // The corrected means with their uncertainty under the statistics, and
        // the fine and corrected delays after the table's first columns.
        const MeanUncertainty snkU = PathUncertainty(LastRun, DelayPath::Src2Snk);
        QCOMPARE(stats->uncertainty->item(2, int(DelayPath::Src2Snk))->text(), UncertaintyNumber(snkU.correctedMean));
        QCOMPARE(stats->uncertainty->item(3, int(DelayPath::Src2Snk))->text(), UncertaintyBound(snkU.expanded));
        QCOMPARE(stats->model->headerData(DelayTableModel::PrecisionColumn + 1, Qt::Horizontal).toString(),
                 QStringLiteral("Fine\nSource->Sink (ms)"));
        QCOMPARE(stats->model->index(0, DelayTableModel::PrecisionColumn + 1).data(DelayTableModel::CopyRole).toDouble(),
                 LastRun.measurements[0].fineDelay(DelayPath::Src2Snk));

        const QString results = b.written("data*Results.txt").value(0);
        const QString stamp = QFileInfo(results).fileName().mid(4, 20);
        const QString dataDir = b.dir.filePath("data");
        QJsonArray truths;
        for (const benchsim::Truth &t : b.bench.truths())
            truths.append(QJsonObject{{"accepted", t.accepted}, {"src2RfMs", t.src2RfMs}, {"src2SnkMs", t.src2SnkMs},
                                      {"points", t.points}, {"timePerSample", t.timePerSample},
                                      {"srcIndex", t.srcIndex}, {"snkIndex", t.snkIndex}, {"saPoints", t.saPoints},
                                      {"saTimePerSample", t.saTimePerSample}, {"saRfIndex", t.saRfIndex}});
        const QJsonObject truth{
            {"truths", truths}, {"count", 5}, {"rejectFirst", 2}, {"rfFailsAt", 3}, {"vaStat", scenario.vaStat},
            {"vaCount", scenario.vaCount}, {"vaValue", scenario.vaValue}, {"saIdn", QString(scenario.saIdn)},
            {"settings", QJsonObject{{"osIp", b.form->OsIp->text()}, {"saIp", b.form->SaIp->text()},
                                     {"vaIp", b.form->VaIp->text()}, {"oscType", "Orvix"}, {"trgLevel", 0.035},
                                     {"centerFreq", 5.192e9}, {"threshold", 42.5}, {"osReset", false},
                                     {"saReset", true}, {"vaReset", false}, {"ifDemod", false}, {"hdmi", true},
                                     {"saveData", true}}},
            {"files", QJsonObject{{"results", results}, {"record", RunRecordFileName(dataDir, stamp)},
                                  {"csv", DelaysCsvFileName(dataDir, stamp)}}},
            {"calibration", CalibrationObject(calibration)}};
        QFile truthFile(b.dir.filePath("truth.json"));
        QVERIFY(truthFile.open(QIODevice::WriteOnly) && truthFile.write(QJsonDocument(truth).toJson()) > 0);
        truthFile.close();
        QProcess checker;
        checker.setProcessChannelMode(QProcess::MergedChannels);
        checker.start(SYSTEM_PYTHON3, {RUN_RECORD_CHECK, truthFile.fileName(), RUN_RECORD_DOC});
        QVERIFY2(checker.waitForFinished(60000) && checker.exitStatus() == QProcess::NormalExit
                     && checker.exitCode() == 0,
                 checker.readAll().constData());
        // The command line's reader gets the same delays.
        StoredRun stored;
        QVERIFY2(ReadRunRecord(RunRecordFileName(dataDir, stamp), &stored, &why), qPrintable(why));
        QCOMPARE(stored.src2Snk, LastRun.Src2SnkArr());

        // After the graph: still there, taking clicks; the next run's graph
        // hands it that run as it comes up.
        QVERIFY(stats->isVisible());
        ClickCell(stats, 4, DelayTableModel::IndexColumn);
        QCOMPARE(stats->table->currentIndex().row(), 4);
        // Its Traces page: the last measurement from memory, an earlier one
        // from the trace files the run saved.
        QCOMPARE(stats->traceIndex->value(), 5);
        QVERIFY2(stats->traceNote->text().contains("from memory"), qPrintable(stats->traceNote->text()));
        QCOMPARE(int(stats->traceCurves[0]->dataSize()), d1.size());
        QCOMPARE(stats->traceCurves[2]->sample(d3.size() / 2).y(), d3[d3.size() / 2]);
        stats->traceIndex->setValue(2);
        QVERIFY2(stats->traceNote->text().contains("from its trace files"), qPrintable(stats->traceNote->text()));
        const QVector<double> sink2 = Load(TraceFileName(dataDir, stamp, 2, TraceKind::Sink));
        QCOMPARE(int(stats->traceCurves[2]->dataSize()), sink2.size());
        QCOMPARE(stats->traceCurves[2]->sample(sink2.size() / 2).y(), sink2[sink2.size() / 2]);

        // The next run, slowed down so the window gets its turns: it follows
        // the run under way, and the run's graph hands it the whole run.
        int rowsWhenNextGraph = -1;
        int rowsFollowed = 0;
        b.watcher.onProgress = [&](QProgressDialog *) {
            if (stats && stats->following())
                rowsFollowed = std::max(rowsFollowed, stats->model->rowCount());
        };
        b.watcher.onGraph = [&](Graph *) { rowsWhenNextGraph = stats ? stats->model->rowCount() : -1; };
        b.bench.clearFaults();
        b.bench.addFault(benchsim::Fault{"osc", "*TRG", 0, benchsim::Fault::Kind::Late, 300});
        b.start(3);
        QVERIFY(rowsFollowed >= 1);
        QCOMPARE(rowsWhenNextGraph, 3);
        QVERIFY(!stats->following());
        QFile::remove(kept);
    }
    QVERIFY(!stats);
}

// A new account's first Save Data makes the data folder with its parents;
// each measurement's files are there while the run still goes; six runs
// in quick succession leave six sets of files, none overwritten.
void TestMeasRun::filesAsTheRunGoes()
{
    benchsim::Scenario scenario;
    scenario.jitterMs = 2.0;
    RunBench b(scenario, false, false);
    QVERIFY2(b.started, qPrintable(b.error));
    QVERIFY(b.initialise());
    const QString folder = b.dir.filePath("home/.local/share/Velmarsk");
    b.window->DataDir = folder + "/prog";

    // While measurement 3 is being taken, 1 and 2 are on disk.
    QStringList seenDuringRun;
    b.watcher.onProgress = [&](QProgressDialog *p) {
        if (seenDuringRun.isEmpty() && p->value() == 2)
            seenDuringRun = QDir(folder).entryList({"*.bin", "*.csv", "*.jsonl"}, QDir::Files, QDir::Name);
    };
    b.start(4);
    QCOMPARE(seenDuringRun.size(), 3 * 2 + 2);
    QVERIFY(seenDuringRun.last().endsWith("Journal.jsonl"));
    QVERIFY(b.watcher.boxTexts.isEmpty());
    b.watcher.onProgress = nullptr;

    for (int i = 1; i < 6; ++i)
        b.start(1);
    QVERIFY2(b.watcher.boxTexts.isEmpty(), qPrintable(b.watcher.boxTexts.join('\n')));
    const QStringList results = QDir(folder).entryList({"prog*Results.txt"}, QDir::Files, QDir::Name);
    QCOMPARE(results.size(), 6);
    QCOMPARE(QDir(folder).entryList({"prog*Run.json"}, QDir::Files).size(), 6);
    QCOMPARE(QDir(folder).entryList({"prog*.bin"}, QDir::Files).size(), 3 * (4 + 5));
    QCOMPARE(QDir(folder).entryList({"*.jsonl"}, QDir::Files), QStringList());
    // The last run's measurement knows where its traces are.
    MeasurementTraces traces;
    QString error;
    QVERIFY2(LoadMeasurementTraces(LastRun, 1, &traces, &error), qPrintable(error));
    QCOMPARE(traces.traces.src, d1);
    QCOMPARE(traces.traces.snk, d3);
}

// A run the window never finished (its program died) is finished when the
// window next starts, and the status bar says so; no dialog comes up.
void TestMeasRun::interruptedRunFinishedAtStart()
{
    const QString dataDir = UserDataDir();
    const QString folder = QFileInfo(dataDir).absolutePath();
    RunRecord head;
    head.requested = 10;
    head.started = QDateTime::currentDateTime();
    QString journal, stamp;
    {
        RunWriter dying;
        QVERIFY(dying.begin(dataDir, QString(), head, true));
        for (int k = 1; k <= 3; ++k) {
            Measurement m;
            m.index = k;
            m.acquired = head.started.addSecs(k);
            m.src2Rf = 40;
            m.src2Snk = 120 + k;
            m.hdGap = DelayGap::NotMeasured;
            dying.kept(m, KeptTraces{2, {0.0, 0.15}, {0.0, 0.2}, {0.0, 0.1}});
        }
        journal = dying.journalFile();
        stamp = dying.stamp();
    } // no finish(): the journal stays, as after a crash
    QVERIFY(QFile::exists(journal));

    ModalWatcher watcher;
    MainWindow w;
    const QString results = ResultsFileName(dataDir, stamp);
    QCOMPARE(w.statusBar()->currentMessage(),
             "Finished " + results + " from its journal: Interrupted after 3 of 10 measurements");
    QVERIFY(watcher.boxTitles.isEmpty());
    QVERIFY(!QFile::exists(journal));
    QFile file(results);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("Source2Snk Delay: 121 122 123\n"));
    QCOMPARE(QDir(folder).entryList({"*.bin"}, QDir::Files).size(), 9);
    QFile::remove(w.CfgFile);
}

// Start stays off while the instruments are set up for another type than the
// Type box shows; should it be clicked all the same, nothing is sent.
void TestMeasRun::startRefusedAfterTypeChange()
{
    benchsim::Scenario scenario;
    scenario.oscType = "Benlo";
    scenario.benloPoints = 2000;
    RunBench b(scenario, false, false);
    QVERIFY2(b.started, qPrintable(b.error));
    QVERIFY(b.initialise());

    b.form->OsTyp->setCurrentIndex(0);
    QVERIFY(!b.form->Start->isEnabled());
    b.form->Start->setEnabled(true);
    b.start(2);
    QCOMPARE(b.watcher.boxTitles, QStringList{"Start"});
    QVERIFY(b.watcher.boxTexts.value(0).contains("not set up for the Type Orvix"));
    QVERIFY(!b.watcher.graph.shown);
    QVERIFY(b.bench.log().isEmpty());

    b.form->OsTyp->setCurrentIndex(1);
    QVERIFY(b.initialise());
    b.start(2);
    QVERIFY(b.watcher.graph.shown);
    QCOMPARE(LastRun.measurements.size(), 2);
    QCOMPARE(LastRun.settings.osType, 1); // the type the oscilloscope was set up with
}

QTEST_MAIN(TestMeasRun)
#include "tst_measrun.moc"
