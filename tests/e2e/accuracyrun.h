// A run of the measurement core against the simulated bench, each
// measurement's fine delays and their uncertainties held against what the
// bench played: the noise-free times at which its traces cross the levels
// of the edge rules. Shared by tst_accuracy and bench/accuracy_bench.
#pragma once

#include "instruments/instrumentsetup.h"
#include "instruments/visasession.h"
#include "measurement/measrun.h"
#include "measurement/uncertainty.h"
#include "sim/bench.h"

#include <QDir>
#include <QTemporaryDir>
#include <QVector>

#include <algorithm>
#include <cmath>

struct PathAccuracy
{
    QVector<double> fine, coarse, truth, u; // ms; u expanded (k = 2)

    int n() const { return fine.size(); }
    // Mean fine delay less mean truth, us.
    double meanErrorUs() const
    {
        double sum = 0;
        for (int i = 0; i < n(); ++i)
            sum += fine[i] - truth[i];
        return n() ? 1000.0 * sum / n() : std::nan("");
    }
    double meanCoarseErrorUs() const
    {
        double sum = 0;
        for (int i = 0; i < n(); ++i)
            sum += coarse[i] - truth[i];
        return n() ? 1000.0 * sum / n() : std::nan("");
    }
    double largestErrorUs() const
    {
        double e = 0;
        for (int i = 0; i < n(); ++i)
            e = std::max(e, std::fabs(fine[i] - truth[i]));
        return 1000.0 * e;
    }
    // Share of the measurements whose U covers the truth.
    int covered() const
    {
        int c = 0;
        for (int i = 0; i < n(); ++i)
            c += std::fabs(fine[i] - truth[i]) <= u[i];
        return c;
    }
    double largestUUs() const { return n() ? 1000.0 * *std::max_element(u.begin(), u.end()) : std::nan(""); }
};

struct AccuracyRun
{
    bool ok = false;
    QString error;
    PathAccuracy rf, snk;
    RunRecord record;
};

// Sets up the bench's instruments as the Init buttons do and takes `count`
// measurements; the RF envelope from oscilloscope channel 3 with ifDemod.
inline AccuracyRun MeasureAgainstTruth(const benchsim::Scenario &scenario, int count, bool ifDemod)
{
    AccuracyRun out;
    QTemporaryDir dir;
    const QString previousDir = QDir::currentPath();
    QDir::setCurrent(dir.path()); // "Trace.tmp" of the block reads
    benchsim::Bench bench(scenario);
    if (!bench.start(&out.error)) {
        QDir::setCurrent(previousDir);
        return out;
    }
    const OscType &type = scenario.isBenlo() ? BenloType : OrvixType;
    ViSession rm = 0, os = 0, sa = 0;
    VisaOpenDefaultRM(rm);
    OscSetupRequest osc;
    osc.resource = bench.resource("osc");
    osc.trgLevel = 0.035;
    osc.ifDemod = ifDemod;
    osc.type = &type;
    SaSetupRequest analyzer;
    analyzer.resource = bench.resource("sa");
    analyzer.centerFreq = 5.192e9;
    analyzer.type = &type;
    const SetupOutcome oscOutcome = SetUpOscilloscope(rm, os, osc);
    const SetupOutcome saOutcome = SetUpAnalyzer(rm, sa, analyzer);
    if (oscOutcome.ready() && saOutcome.ready()) {
        RunRequest request;
        request.count = count;
        request.type = &type;
        request.ifDemod = ifDemod;
        request.osHdl = os;
        request.saHdl = sa;
        out.record = RunMeasurements(request, RunCallbacks()).record;
        out.ok = out.record.measurements.size() == count;
        if (!out.ok)
            out.error = RunSummary(out.record);
    } else {
        out.error = SetupOutcomeText(QStringLiteral("Oscilloscope"), oscOutcome) + QLatin1Char(' ')
                    + SetupOutcomeText(QStringLiteral("Spectrum analyzer"), saOutcome);
    }
    VisaClose(os);
    VisaClose(sa);
    VisaClose(rm);
    bench.stop();
    QDir::setCurrent(previousDir);
    if (!out.ok)
        return out;

    QVector<benchsim::Truth> accepted;
    for (const benchsim::Truth &t : bench.truths())
        if (t.accepted)
            accepted.append(t);
    for (int i = 0; i < count && i < accepted.size(); ++i) {
        const Measurement &m = out.record.measurements[i];
        const benchsim::Truth &t = accepted[i];
        const double rfCross = ifDemod ? t.rfCrossS : t.saRfCrossS;
        const struct {
            PathAccuracy *to;
            DelayPath path;
            double truthMs;
        } paths[] = {{&out.rf, DelayPath::Src2Rf, (rfCross - t.srcCrossS) * 1000.0},
                     {&out.snk, DelayPath::Src2Snk, (t.snkCrossS - t.srcCrossS) * 1000.0}};
        for (const auto &p : paths) {
            p.to->fine.append(m.fineDelay(p.path));
            p.to->coarse.append(m.delay(p.path));
            p.to->truth.append(p.truthMs);
            p.to->u.append(MeasurementUncertainty(m, p.path, out.record.calibration));
        }
    }
    return out;
}
