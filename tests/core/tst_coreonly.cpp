// The core as the command line uses it, in a program that links no widget:
// the set-ups and a run against the simulated bench, the outcome the run
// returns (and nothing else it touches), and the files written from it.
#include "instruments/instrumentsetup.h"
#include "instruments/visasession.h"
#include "measurement/measrun.h"
#include "measurement/resultsfile.h"
#include "measurement/runfiles.h"
#include "measurement/tracefileformat.h"
#include "measurement/tracefiles.h"
#include "sim/bench.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

class TestCoreOnly : public QObject
{
    Q_OBJECT

private slots:
    void runReturnsWhatItMeasured();
};

void TestCoreOnly::runReturnsWhatItMeasured()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString previousDir = QDir::currentPath();
    QDir::setCurrent(dir.path()); // "Trace.tmp" of the block reads
    benchsim::Scenario scenario;
    scenario.oscType = "Benlo";
    scenario.benloPoints = 3000;
    scenario.jitterMs = 2.0;
    scenario.seed = 3;
    scenario.rejectFirst = 1;
    benchsim::Bench bench(scenario);
    QString error;
    QVERIFY2(bench.start(&error), qPrintable(error));

    ViSession rm = 0, os = 0, sa = 0;
    QCOMPARE(VisaOpenDefaultRM(rm), VI_SUCCESS);
    OscSetupRequest osc;
    osc.resource = bench.resource("osc");
    osc.trgLevel = 0.035;
    osc.type = &BenloType;
    SaSetupRequest analyzer;
    analyzer.resource = bench.resource("sa");
    analyzer.centerFreq = 5.192e9;
    analyzer.type = &BenloType;
    QVERIFY(SetUpOscilloscope(rm, os, osc).ready());
    QVERIFY(SetUpAnalyzer(rm, sa, analyzer).ready());

    RunRequest request;
    request.count = 3;
    request.type = &BenloType;
    request.numPts = 17; // the last run's count: replaced by the first channel-1 read
    request.osHdl = os;
    request.saHdl = sa;
    const RunOutcome outcome = RunMeasurements(request, RunCallbacks());
    VisaClose(os);
    VisaClose(sa);
    VisaClose(rm);
    bench.stop();
    QDir::setCurrent(previousDir);

    const RunRecord &run = outcome.record;
    QCOMPARE(run.measurements.size(), 3);
    QCOMPARE(run.retakes.size(), 1);
    QCOMPARE(outcome.numPts, 3000);
    QCOMPARE(outcome.t.size(), 3000);
    QCOMPARE(outcome.t.first(), BenloType.firstSampleTime);
    QCOMPARE(outcome.last.src.size(), 3000);
    QCOMPARE(outcome.last.rf.size(), 3000);
    QCOMPARE(outcome.last.snk.size(), 3000);

    // Each delay within a sample of what the bench played; the means and the
    // edges are the run's own, the edges those of its last measurement.
    const QVector<benchsim::Truth> truths = bench.truths();
    const double sample = 1.2 / 2999 * 1000.0;
    double sumSnk = 0.0;
    for (int i = 0; i < 3; ++i) {
        const benchsim::Truth &truth = truths[i + 1]; // the first acquisition was rejected
        QVERIFY(std::fabs(run.measurements[i].src2Snk - truth.src2SnkMs) <= sample);
        sumSnk += run.measurements[i].src2Snk;
    }
    QCOMPARE(outcome.avgSrc2Snk, sumSnk / 3);
    QCOMPARE(outcome.tsnk, run.measurements.last().tsnk);
    QCOMPARE(outcome.trf, run.measurements.last().trf);

    // The files come from the outcome alone; the last triple holds exactly
    // the traces the outcome hands to the graph.
    QTemporaryDir out;
    const RunFilesReport written = WriteRunFiles(out.filePath("data"), QStringLiteral("S_"), outcome, false);
    QVERIFY2(written.ok(), qPrintable(written.problems().join('\n')));
    QFile results(written.resultsFile);
    QVERIFY(results.open(QIODevice::ReadOnly));
    QVERIFY(results.readAll().endsWith("Source2Snk Mean: " + QByteArray::number(outcome.avgSrc2Snk, 'g', 6)));

    RunOutcome withTraces = outcome;
    withTraces.record.measurements.last().traces = outcome.last;
    const RunFilesReport traced = WriteRunFiles(out.filePath("traced"), QStringLiteral("S_"), withTraces, true);
    QFile sink(TraceFileName(out.filePath("traced"), QStringLiteral("S_"), 3, TraceKind::Sink));
    QVERIFY(sink.open(QIODevice::ReadOnly));
    QCOMPARE(sink.readAll(), EncodeTrace(outcome.last.snk, outcome.last.count));
    QCOMPARE(traced.traceFiles, 9);

    // Read back through the names the report gives, as the Statistics
    // window does: the same samples, on the run's time axis.
    RunRecord saved = withTraces.record;
    saved.settings.osType = 1;
    saved.traceFiles = traced.tracePaths;
    QCOMPARE(saved.traceFiles.size(), 3);
    MeasurementTraces loaded;
    QVERIFY2(LoadMeasurementTraces(saved, 3, &loaded, &error), qPrintable(error));
    QCOMPARE(loaded.traces.src, outcome.last.src);
    QCOMPARE(loaded.traces.snk, outcome.last.snk);
    QCOMPARE(loaded.t, outcome.t);
    QVERIFY(!LoadMeasurementTraces(saved, 4, &loaded, &error));
    saved.traceFiles.clear();
    QVERIFY(!LoadMeasurementTraces(saved, 3, &loaded, &error));
    QVERIFY(error.contains("no trace files"));
    QVERIFY(!outcome.osLost && !outcome.saLost && !outcome.vaLost);
}

QTEST_GUILESS_MAIN(TestCoreOnly)
#include "tst_coreonly.moc"
