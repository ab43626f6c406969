#include "measurement/histbins.h"

#include <algorithm>
#include <cmath>

namespace {

QVector<double> Finite(const QVector<double> &values)
{
    QVector<double> out;
    for (double v : values)
        if (std::isfinite(v))
            out.append(v);
    return out;
}

QVector<int> Count(const QVector<double> &values, const SharedBins &bins)
{
    const int n = bins.countsA.size();
    QVector<int> counts(n, 0);
    for (double v : values) {
        // Clamped as a double: values from a file can span more than a
        // double's range, and an int conversion of inf or NaN is undefined.
        const double k = std::floor((v - bins.start) / bins.width);
        ++counts[std::isnan(k) ? 0 : int(std::clamp(k, 0.0, double(n - 1)))];
    }
    return counts;
}

} // namespace

SharedBins BinTwoRuns(const QVector<double> &a, const QVector<double> &b, int maxBins)
{
    const QVector<double> fa = Finite(a);
    const QVector<double> fb = Finite(b);
    SharedBins bins;
    if (fa.isEmpty() && fb.isEmpty())
        return bins;

    QVector<double> all = fa + fb;
    const auto [lo, hi] = std::minmax_element(all.cbegin(), all.cend());
    int n = 1;
    if (*hi > *lo) {
        const int larger = std::max(fa.size(), fb.size());
        n = std::clamp(int(std::ceil(std::sqrt(double(larger)))), 5, std::max(5, maxBins));
        bins.start = *lo;
        bins.width = (*hi - *lo) / n;
    } else {
        bins.start = *lo - 0.5;
        bins.width = 1.0;
    }
    bins.countsA = QVector<int>(n, 0); // sets the bin count for Count
    bins.countsA = Count(fa, bins);
    bins.countsB = Count(fb, bins);
    return bins;
}
