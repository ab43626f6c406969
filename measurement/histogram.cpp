#include "measurement/histogram.h"

#include <algorithm>
#include <cmath>

namespace {

// A fractional bin number as an index into 0..last; NaN (an infinite span)
// counts as the first bin.
int Clamped(double k, int last)
{
    if (!(k > 0.0))
        return 0;
    return k < double(last) ? int(k) : last;
}

} // namespace

double RoundBinWidth(double raw)
{
    if (!(raw > 0.0) || !std::isfinite(raw))
        return 1.0;
    const double decade = std::pow(10.0, std::floor(std::log10(raw)));
    for (double step : {1.0, 2.0, 5.0, 10.0}) {
        // The tolerance keeps 0.3 / 3 = 0.09999... from becoming 0.2.
        if (step * decade >= raw * (1.0 - 1e-9))
            return step * decade;
    }
    return 10.0 * decade;
}

Histogram MakeHistogram(const QVector<double> &values, int maxBins)
{
    Histogram h;
    double lo = 0.0;
    double hi = 0.0;
    int n = 0;
    for (double v : values) {
        if (!std::isfinite(v)) {
            ++h.left;
            continue;
        }
        lo = n == 0 ? v : std::min(lo, v);
        hi = n == 0 ? v : std::max(hi, v);
        ++n;
    }
    if (n == 0)
        return h;

    const int target = std::clamp(int(std::ceil(std::sqrt(double(n)))), 1, std::max(1, maxBins));
    if (hi - lo > 0.0 && std::isfinite(hi - lo)) {
        h.width = RoundBinWidth((hi - lo) / target);
        h.start = std::floor(lo / h.width) * h.width;
    } else {
        // One value (or a span too wide for a double): a single bin.
        h.width = hi - lo > 0.0 ? hi - lo : 1.0;
        h.start = hi - lo > 0.0 ? lo : lo - 0.5;
    }
    h.counts.fill(0, 1 + Clamped(std::floor((hi - h.start) / h.width), std::max(1, maxBins)));
    const int last = h.counts.size() - 1;
    for (double v : values) {
        // Rounding may put the largest value one bin past the end.
        if (std::isfinite(v))
            h.counts[Clamped(std::floor((v - h.start) / h.width), last)]++;
    }
    return h;
}
