// What an open Statistics window that follows a run costs the run:
//   - runs of N measurements on the simulated bench (in process, raw
//     sockets, Benlo records of 20 000 points, each acquisition answering
//     after A ms: a real one takes at least its 1.2 s record), taken in
//     turns with and without a Statistics window following through
//     StatisticsFollower, as MainWindow::Meas runs them (events processed
//     between exchanges); the medians and their ratio;
//   - one redraw of the window for runs of 1 000, 10 000 and 100 000
//     measurements, the interval the follower then keeps, and the share of
//     the run's time that leaves to redrawing.
//
//   QT_QPA_PLATFORM=offscreen build/rel/bench/follow_bench [N=60] [rounds=5] [A=100]
#include "graph/statisticsfollow.h"
#include "graph/statisticswindow.h"
#include "instruments/instrumentsetup.h"
#include "instruments/visasession.h"
#include "measurement/measrun.h"
#include "sim/bench.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

RunRecord MadeUpRun(int n)
{
    RunRecord run;
    run.requested = n;
    run.started = QDateTime::currentDateTime();
    for (int k = 1; k <= n; ++k) {
        Measurement m;
        m.index = k;
        m.acquired = run.started.addMSecs(300LL * k);
        m.src2Rf = 40.0 + (k * 7919 % 400) / 100.0;
        m.src2Snk = 120.0 + (k * 104729 % 300) / 100.0;
        m.hdGap = DelayGap::NotMeasured;
        run.measurements.append(m);
    }
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 60;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
    const int acquisitionMs = argc > 3 ? std::max(0, atoi(argv[3])) : 100;

    QTemporaryDir dir;
    QDir::setCurrent(dir.path()); // "Trace.tmp" of the block reads
    benchsim::Scenario scenario;
    scenario.oscType = "Benlo";
    scenario.jitterMs = 2.0;
    scenario.acquisitionMs = acquisitionMs;
    benchsim::Bench bench(scenario);
    QString error;
    if (!bench.start(&error)) {
        std::fprintf(stderr, "bench: %s\n", qPrintable(error));
        return 1;
    }
    ViSession rm = 0, os = 0, sa = 0;
    VisaOpenDefaultRM(rm);
    OscSetupRequest osc;
    osc.resource = bench.resource("osc");
    osc.trgLevel = 0.035;
    SaSetupRequest analyzer;
    analyzer.resource = bench.resource("sa");
    analyzer.centerFreq = 5.192e9;
    if (!SetUpOscilloscope(rm, os, osc).ready() || !SetUpAnalyzer(rm, sa, analyzer).ready()) {
        std::fprintf(stderr, "set-up failed\n");
        return 1;
    }

    QWidget owner;
    auto *window = new StatisticsWindow(&owner);
    window->show();
    if (!QTest::qWaitForWindowExposed(window)) {
        std::fprintf(stderr, "the window did not come up\n");
        return 1;
    }

    RunRequest request;
    request.count = count;
    request.type = &BenloType;
    request.osHdl = os;
    request.saHdl = sa;
    // The window closed: a follower that finds nothing to redraw, so that
    // row tells the machine's noise from the window's cost.
    std::vector<double> plain, closed, following;
    int redraws = 0;
    for (int r = 0; r < rounds; ++r) {
        for (int variant = 0; variant < 3; ++variant) {
            const bool follow = variant > 0;
            window->setVisible(variant != 1);
            StatisticsFollower follower(&owner);
            RunCallbacks callbacks;
            if (follow)
                callbacks.acquiring = [&follower](int, const RunRecord &sofar) { follower.update(sofar); };
            callbacks.stopRequested = [] {
                QCoreApplication::processEvents();
                return false;
            };
            QElapsedTimer clock;
            clock.start();
            RunMeasurements(request, callbacks);
            (variant == 0 ? plain : variant == 1 ? closed : following).push_back(clock.nsecsElapsed() / 1e6);
            if (variant == 2)
                redraws += follower.redraws();
        }
    }
    VisaClose(os);
    VisaClose(sa);
    VisaClose(rm);
    bench.stop();

    const double a = Median(plain), c = Median(closed), b = Median(following);
    std::printf("run of %d measurements (acquisitions of %d ms), median of %d rounds each, taken in turns:\n", count,
                acquisitionMs, rounds);
    std::printf("  without a follower            %9.1f ms\n", a);
    std::printf("  following, the window closed  %9.1f ms  (ratio %.3f: the noise)\n", c, c / a);
    std::printf("  following, the window open    %9.1f ms  (ratio %.3f; %.1f redraws a run)\n\n", b, b / a,
                double(redraws) / rounds);

    window->show();
    std::printf("one redraw of the window while following (median of 5):\n");
    for (int n : {1000, 10000, 100000}) {
        const RunRecord run = MadeUpRun(n);
        std::vector<double> costs;
        for (int i = 0; i < 5; ++i) {
            QElapsedTimer clock;
            clock.start();
            window->followRun(run);
            window->repaint();
            costs.push_back(clock.nsecsElapsed() / 1e6);
        }
        const double cost = Median(costs);
        const double interval = std::max<double>(StatisticsFollower::MinIntervalMs, StatisticsFollower::CostFactor * cost);
        std::printf("  %6d measurements  %8.1f ms, then every %7.0f ms: %4.1f %% of the run\n", n, cost, interval,
                    100.0 * cost / (interval + cost));
    }
    return 0;
}
