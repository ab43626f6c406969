// Histogram bins that two runs share, so their bars can be laid over each
// other: the same edges for both, counts per run.
#pragma once

#include <QVector>

struct SharedBins
{
    double start = 0.0; // lower edge of the first bin
    double width = 1.0;
    QVector<int> countsA, countsB; // as many as there are bins
};

// Bins over the finite values of both runs (NaN and infinities are left
// out): about the square root of the larger run's count of them, at least
// 5 and at most maxBins, evenly from the smallest value to the largest (the
// largest falls into the last bin). All values equal: one bin 1 wide around
// them. No finite value at all: no bins.
SharedBins BinTwoRuns(const QVector<double> &a, const QVector<double> &b, int maxBins = 40);
