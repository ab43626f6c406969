// The spread of a run, per path: plain functions over the per-measurement
// delays. A value that is not a number (an edge not found, a trace not read,
// no reading) is left out and counted as missing, never taken as 0; a path
// that was switched off (the HDMI delay without the option) has no figures.
#pragma once

#include "measurement/runrecord.h"

#include <QVector>

struct PathStats
{
    bool measured = true; // false: the path was switched off for this run
    int n = 0;            // measurements with a value
    int missing = 0;      // measurements without one
    // NaN where undefined: everything for n = 0; the standard deviation and
    // the confidence interval for n = 1.
    double mean, sd, min, max, median, p5, p95;
    double ciLow, ciHigh; // 95 % confidence interval of the mean (Student t)
};

struct RunStats
{
    PathStats src2Rf, src2Hd, src2Snk;

    const PathStats &of(DelayPath path) const;
};

// Mean, sample standard deviation (n - 1), extremes, median, 5th and 95th
// percentile and the 95 % confidence interval of the mean. Percentiles
// interpolate linearly between the two closest ranks: the p-th percentile of
// n sorted values x[0..n-1] is x at the fractional index p/100 * (n - 1)
// (Hyndman and Fan's definition 7, as spreadsheets' PERCENTILE.INC).
PathStats ComputePathStats(const QVector<double> &values);

// The three paths of a run; the HDMI path counts only with the option on.
RunStats ComputeRunStats(const RunRecord &run);

// The p-th percentile (0..100) of sorted values by the rule above.
double Percentile(const QVector<double> &sorted, double p);

// The p-quantile of Student's t distribution with df degrees of freedom
// (df > 0, not necessarily whole), e.g. 12.706 for p = 0.975 and df = 1.
double StudentTQuantile(double p, double df);

// Welch's comparison of two runs' means on one path: b's mean minus a's,
// the 95 % confidence interval of that difference (Welch-Satterthwaite
// degrees of freedom) and whether it excludes 0. Undefined (NaN, not
// significant) when either run has fewer than two values.
struct MeanDifference
{
    double diff, ciLow, ciHigh, df;
    bool significant = false;
};
MeanDifference CompareMeans(const PathStats &a, const PathStats &b);
