// The accuracy goals on the simulated bench, over many seeded runs: a Benlo
// record of 20 000 samples (60 us apart), 0.3 ms rise time, 0.5 mV noise,
// Source->RF 40.0137 ms and Source->Sink 120.0291 ms, no jitter, 40
// measurements per run; the RF envelope from oscilloscope channel 3 and
// from the analyzer's trace.
//
//   build/bench/accuracy_bench [runs]     (default 25 runs per row)
//
// Per row and path: the largest distance of a run's mean fine delay from
// its mean truth (and the same for today's grid delays), how often a
// single delay's U covers its truth, how often the mean's U covers the
// mean truth, and the median and largest U of a single delay.
#include "tests/e2e/accuracyrun.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

struct Tally
{
    double worstMeanUs = 0, worstGridMeanUs = 0;
    int covered = 0, n = 0, meanCovered = 0, runs = 0;
    QVector<double> u;

    void add(const PathAccuracy &p, const MeanUncertainty &mean)
    {
        worstMeanUs = std::max(worstMeanUs, std::fabs(p.meanErrorUs()));
        worstGridMeanUs = std::max(worstGridMeanUs, std::fabs(p.meanCoarseErrorUs()));
        covered += p.covered();
        n += p.n();
        double truth = 0;
        for (double t : p.truth)
            truth += t;
        truth /= p.n();
        meanCovered += std::fabs(mean.fineMean - truth) <= mean.expanded;
        ++runs;
        for (double v : p.u)
            u.append(1000.0 * v);
    }
    void print(const char *row, const char *path)
    {
        std::sort(u.begin(), u.end());
        std::printf("%-28s %-13s %8.2f %8.2f %9.1f %%  %6.1f %%  %7.2f %7.2f\n", row, path, worstMeanUs,
                    worstGridMeanUs, 100.0 * covered / n, 100.0 * meanCovered / runs, u[u.size() / 2], u.last());
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 25;
    std::printf("%d runs of 40 measurements per row; us; U expanded (k = 2 for one delay)\n", runs);
    std::printf("%-28s %-13s %8s %8s %11s %8s %7s %7s\n", "row", "path", "mean err", "grid", "U covers", "U mean",
                "U med", "U max");
    for (bool ifDemod : {true, false}) {
        Tally rf, snk;
        for (int r = 0; r < runs; ++r) {
            benchsim::Scenario s;
            s.oscType = "Benlo";
            s.benloPoints = 20000;
            s.riseMs = 0.3;
            s.noiseV = 0.0005;
            s.src2RfMs = 40.0137;
            s.src2SnkMs = 120.0291;
            s.seed = quint32(1000 + r);
            s.frontPanelChannels = {3};
            const AccuracyRun a = MeasureAgainstTruth(s, 40, ifDemod);
            if (!a.ok) {
                std::fprintf(stderr, "run %d: %s\n", r, qPrintable(a.error));
                return 1;
            }
            rf.add(a.rf, PathUncertainty(a.record, DelayPath::Src2Rf));
            snk.add(a.snk, PathUncertainty(a.record, DelayPath::Src2Snk));
        }
        const char *row = ifDemod ? "RF from channel 3" : "RF from the analyzer trace";
        rf.print(row, "Source->RF");
        snk.print(row, "Source->Sink");
    }
    return 0;
}
