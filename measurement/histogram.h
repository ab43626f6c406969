// Binning a path's delays for a histogram a reader takes in at a glance:
// bins of a round width (1, 2 or 5 times a power of ten) starting at a
// multiple of it.
#pragma once

#include <QVector>

struct Histogram
{
    double start = 0.0; // lower edge of the first bin
    double width = 0.0; // every bin is this wide; 0 when there are no bins
    QVector<int> counts; // values in [start + i*width, start + (i+1)*width)
    int left = 0;        // values that are not finite, left out
};

// About sqrt(n) bins for n finite values, never more than maxBins + 1
// (the round width may need one more). Values that are all equal get one
// bin of width 1 centred on them.
Histogram MakeHistogram(const QVector<double> &values, int maxBins = 50);

// The smallest round width (1, 2 or 5 times a power of ten) at least raw.
double RoundBinWidth(double raw);
