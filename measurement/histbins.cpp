#include "measurement/histbins.h"

#include "measurement/histogram.h"

#include <cmath>

namespace {

QVector<int> Count(const QVector<double> &values, const SharedBins &bins, int n)
{
    QVector<int> counts(n, 0);
    for (double v : values) {
        if (!std::isfinite(v))
            continue;
        // Clamped as a double: an int conversion of inf or NaN (a span too
        // wide for a double) is undefined; rounding may also put the largest
        // value one bin past the end.
        const double k = std::floor((v - bins.start) / bins.width);
        ++counts[k > 0.0 ? (k < n - 1 ? int(k) : n - 1) : 0];
    }
    return counts;
}

} // namespace

SharedBins BinTwoRuns(const QVector<double> &a, const QVector<double> &b, int maxBins)
{
    const Histogram both = MakeHistogram(a + b, maxBins);
    SharedBins bins;
    if (both.counts.isEmpty())
        return bins;
    bins.start = both.start;
    bins.width = both.width;
    bins.countsA = Count(a, bins, both.counts.size());
    bins.countsB = Count(b, bins, both.counts.size());
    return bins;
}
