// Times the statistics of a long run and the Statistics window of a large
// one, on made-up measurements (no bench needed):
//   - the statistics of 100 000 measurements (target: under 50 ms), and the
//     histogram binning, delay table and run record of the same run, and
//     the end of such a run written as it went (target: under 0.5 s);
//   - the Statistics window with 10 000 measurements, from the click on
//     "Statistics…" until it is on screen and painted (target: under 1 s),
//     then scrolling to the end, selecting everything and copying it.
//
//   QT_QPA_PLATFORM=offscreen build/rel/bench/stats_bench [repetitions]
//
// Prints the fastest and the median of the repetitions, in ms.
#include "graph/graph.h"
#include "measurement/histogram.h"
#include "graph/statisticswindow.h"
#include "measurement/delaycalc.h"
#include "measurement/delayscsv.h"
#include "measurement/runjson.h"
#include "measurement/runstats.h"
#include "measurement/runwriter.h"
#include "shared/measstate.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <random>

namespace {

// Delays with a few ms of spread, one RF trace in a hundred not read, the
// HDMI reading on.
RunRecord MadeUpRun(int n)
{
    std::mt19937 random(7);
    std::normal_distribution<double> jitter(0.0, 2.0);
    RunRecord run;
    run.requested = n;
    run.started = QDateTime::currentDateTime();
    run.settings.hdmi = true;
    run.measurements.reserve(n);
    for (int k = 1; k <= n; ++k) {
        Measurement m;
        m.index = k;
        m.acquired = run.started.addMSecs(400LL * k);
        m.src2Rf = 40.0 + jitter(random);
        m.src2Hd = 35.0 + jitter(random) / 4;
        m.src2Snk = 120.0 + jitter(random);
        if (k % 100 == 0) {
            m.src2Rf = std::numeric_limits<double>::quiet_NaN();
            m.rfGap = DelayGap::TraceNotRead;
        }
        run.measurements.append(m);
    }
    run.ended = run.started.addMSecs(400LL * n);
    return run;
}

// The same as a run measures it: edges on the samples of a 20 000-point
// Benlo record, so that each delay is a difference of two sample times.
RunRecord GridRun(int n)
{
    RunRecord run = MadeUpRun(n);
    const QVector<double> t = BuildTimeAxis(20000, BenloType);
    const int trigger = 10000;
    auto at = [&t, trigger](double ms) { return qBound(0, trigger + qRound(ms / 1000 / 6.00030001500075e-05), 19999); };
    for (Measurement &m : run.measurements) {
        m.tsrc = t[trigger];
        if (std::isfinite(m.src2Rf)) {
            m.trf = t[at(m.src2Rf)];
            m.src2Rf = (m.trf - m.tsrc) * 1000;
        }
        m.tsnk = t[at(m.src2Snk)];
        m.src2Snk = (m.tsnk - m.tsrc) * 1000;
    }
    return run;
}

struct Timing
{
    double fastest, median;
};

Timing Time(int repetitions, const std::function<void()> &work)
{
    QVector<double> ms;
    for (int i = 0; i < repetitions; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        ms.append(clock.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms.first(), ms[ms.size() / 2]};
}

void Print(const char *what, const Timing &t)
{
    std::printf("%-58s fastest %8.2f ms   median %8.2f ms\n", what, t.fastest, t.median);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 11;
    std::printf("platform %s, %d repetitions\n", qPrintable(QGuiApplication::platformName()), repetitions);

    const RunRecord big = MadeUpRun(100000);
    volatile double sink = 0;
    Print("statistics of 100 000 measurements (3 paths)",
          Time(repetitions, [&] { sink = sink + ComputeRunStats(big).src2Snk.p95; }));
    const QVector<double> snk = big.Src2SnkArr();
    Print("histogram of 100 000 values", Time(repetitions, [&] { sink = sink + MakeHistogram(snk).counts.size(); }));
    Print("delay table (CSV) of 100 000 measurements",
          Time(repetitions, [&] { sink = sink + DelaysCsv(big).size(); }));
    const RunStats stats = ComputeRunStats(big);
    Print("run record (JSON) of 100 000 measurements",
          Time(std::max(1, repetitions / 3), [&] { sink = sink + RunRecordJson(big, stats, "x_", {}).size(); }));

    // The end of a run of 100 000 written as it went (no trace files): the
    // results file and the record from the journal, each synced, and the
    // journal removed. The measurements' own writing is not timed. Once in
    // the temporary folder, once in memory (/dev/shm), where syncing costs
    // nothing: the difference is the disk's.
    const RunRecord grid = GridRun(100000);
    for (const QString &where : {QDir::tempPath(), QStringLiteral("/dev/shm")}) {
        if (!QFileInfo(where).isWritable())
            continue;
        QVector<double> finishing;
        for (int i = 0; i < std::max(1, repetitions / 3); ++i) {
            QTemporaryDir dir(where + QStringLiteral("/stats_bench-XXXXXX"));
            RunOutcome outcome;
            outcome.record = grid;
            RunWriter writer;
            writer.begin(dir.filePath("prog"), QString(), outcome.record, false);
            for (Measurement &m : outcome.record.measurements)
                writer.kept(m, KeptTraces());
            QElapsedTimer clock;
            clock.start();
            const RunFilesReport report = writer.finish(outcome);
            finishing.append(clock.nsecsElapsed() / 1e6);
            if (!report.ok())
                std::fprintf(stderr, "%s\n", qPrintable(report.problems().join('\n')));
        }
        std::sort(finishing.begin(), finishing.end());
        Print(qPrintable(QStringLiteral("finishing a run of 100 000 in %1").arg(where)),
              {finishing.first(), finishing[finishing.size() / 2]});
    }

    // The user's path: the graph dialog of a run of 10 000, its button, the
    // window on screen and painted.
    LastRun = MadeUpRun(10000);
    Print("graph dialog of 10 000 measurements (statistics for the tooltips)",
          Time(repetitions, [&] { Graph g; }));
    Print("Statistics window of 10 000, from the click until painted", Time(repetitions, [&] {
              Graph g;
              g.showStatistics();
              StatisticsWindow *w = g.statisticsWindow();
              if (!QTest::qWaitForWindowExposed(w))
                  std::fprintf(stderr, "window not exposed\n");
              w->repaint();
              QCoreApplication::processEvents();
          }));

    Graph g;
    g.showStatistics();
    StatisticsWindow *w = g.statisticsWindow();
    if (!QTest::qWaitForWindowExposed(w))
        return 1;
    Print("  then scrolling to the last row and painting", Time(repetitions, [&] {
              w->table->scrollToTop();
              w->table->scrollToBottom();
              w->table->viewport()->repaint();
          }));
    Print("  then selecting all 60 000 cells and copying them", Time(repetitions, [&] {
              w->table->selectAll();
              w->copySelection();
          }));
    Print("  then showing the next run of 10 000 in the open window",
          Time(repetitions, [&] { w->showRun(LastRun); w->repaint(); }));
    std::printf("copied %d characters\n", int(QApplication::clipboard()->text().size()));
    return sink > 0 ? 0 : 1;
}
