// A run started from the window's own Start button against the simulated
// bench: the commands each measurement sends, the delays against the delays
// the bench played, the results and trace files, and the graph.
#include "runbench.h"

#include "measurement/delaycalc.h"
#include "measurement/resultsfile.h"
#include "measurement/tracefileformat.h"
#include "shared/measstate.h"

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
    QTest::addColumn<bool>("vxi11");
    // Channel 3 switched on by hand before the set-up: the Benlo set-up
    // never switches it on itself, the Orvix set-up must do it alone.
    QTest::addColumn<bool>("panelChan3");

    for (const char *type : {"Orvix", "Benlo"}) {
        const bool benlo = QByteArray(type) == "Benlo";
        for (bool ifDemod : {false, true}) {
            for (bool hdmi : {false, true}) {
                QTest::addRow("%s, IF demod %s, HDMI %s", type, ifDemod ? "on" : "off", hdmi ? "on" : "off")
                    << QString(type) << ifDemod << hdmi << 0 << false << benlo;
            }
        }
    }
    // Rejected acquisitions are taken again and leave no trace in the results.
    QTest::newRow("Orvix, 4 rejected first") << "Orvix" << false << true << 4 << false << false;
    QTest::newRow("Benlo, 19 rejected first") << "Benlo" << false << false << 19 << false << true;
    // The same run over VXI-11 links instead of raw sockets.
    QTest::newRow("Orvix over VXI-11") << "Orvix" << true << true << 1 << true << false;
    QTest::newRow("Benlo over VXI-11") << "Benlo" << false << true << 0 << true << true;
    // Nobody switched channel 3 on: no RF envelope, no Source->RF delay, and
    // the run still ends with its files and graph.
    QTest::newRow("Benlo, IF demod on, channel 3 off") << "Benlo" << true << true << 0 << false << false;
}

void TestMeasRun::run()
{
    QFETCH(QString, type);
    QFETCH(bool, ifDemod);
    QFETCH(bool, hdmi);
    QFETCH(int, rejectFirst);
    QFETCH(bool, vxi11);
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
    RunBench b(scenario, ifDemod, hdmi, vxi11);
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
    const QVector<double> axis = BuildTimeAxis(pts, benlo ? 1 : 0);
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

        const DelayResult r = CalcDelays(pts, src, env, sink, axis, benlo ? 1 : 0);
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
            QCOMPARE(r.trf, SampleTime(ifDemod ? truth.rfIndex : truth.saRfIndex, pts, benlo ? 1 : 0));
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

    // The graph shows the last measurement.
    const GraphSeen &g = b.watcher.graph;
    QVERIFY(g.shown);
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

QTEST_MAIN(TestMeasRun)
#include "tst_measrun.moc"
