// Histogram bins that two runs share, so their bars can be laid over each
// other: the Statistics window's bins over both runs together, counted per run.
#pragma once

#include <QVector>

struct SharedBins
{
    double start = 0.0; // lower edge of the first bin
    double width = 0.0; // 0 when there are no bins
    QVector<int> countsA, countsB; // as many as there are bins
};

// The edges are MakeHistogram's (measurement/histogram.h) for all finite values of
// both runs; NaN and infinities are left out. No finite value: no bins.
SharedBins BinTwoRuns(const QVector<double> &a, const QVector<double> &b, int maxBins = 40);
