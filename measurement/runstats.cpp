#include "measurement/runstats.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// Continued fraction of the regularized incomplete beta function (modified
// Lentz), valid for x < (a + 1) / (a + b + 2).
double BetaFraction(double a, double b, double x)
{
    constexpr double Tiny = 1e-300;
    constexpr double Eps = 1e-15;
    double c = 1.0;
    double d = 1.0 - (a + b) * x / (a + 1.0);
    if (std::fabs(d) < Tiny)
        d = Tiny;
    d = 1.0 / d;
    double h = d;
    for (int m = 1; m <= 10000; ++m) {
        const double m2 = 2.0 * m;
        double aa = m * (b - m) * x / ((a + m2 - 1.0) * (a + m2));
        d = 1.0 + aa * d;
        if (std::fabs(d) < Tiny)
            d = Tiny;
        c = 1.0 + aa / c;
        if (std::fabs(c) < Tiny)
            c = Tiny;
        d = 1.0 / d;
        h *= d * c;
        aa = -(a + m) * (a + b + m) * x / ((a + m2) * (a + m2 + 1.0));
        d = 1.0 + aa * d;
        if (std::fabs(d) < Tiny)
            d = Tiny;
        c = 1.0 + aa / c;
        if (std::fabs(c) < Tiny)
            c = Tiny;
        d = 1.0 / d;
        const double del = d * c;
        h *= del;
        if (std::fabs(del - 1.0) < Eps)
            break;
    }
    return h;
}

// I_x(a, b), the regularized incomplete beta function.
double IncompleteBeta(double a, double b, double x)
{
    if (x <= 0.0)
        return 0.0;
    if (x >= 1.0)
        return 1.0;
    const double front = std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x)
                                  + b * std::log1p(-x));
    if (x < (a + 1.0) / (a + b + 2.0))
        return front * BetaFraction(a, b, x) / a;
    return 1.0 - front * BetaFraction(b, a, 1.0 - x) / b;
}

// P(T <= t) for Student's t with df degrees of freedom.
double StudentTCdf(double t, double df)
{
    const double tail = 0.5 * IncompleteBeta(df / 2.0, 0.5, df / (df + t * t));
    return t >= 0 ? 1.0 - tail : tail;
}

} // namespace

double StudentTQuantile(double p, double df)
{
    if (!(p > 0.0 && p < 1.0) || !(df > 0.0))
        return NaN;
    if (p == 0.5)
        return 0.0;
    if (p < 0.5)
        return -StudentTQuantile(1.0 - p, df);
    // The CDF rises monotonically: bracket the quantile, then bisect to the
    // last bit (a few hundred evaluations at most).
    double lo = 0.0;
    double hi = 1.0;
    while (StudentTCdf(hi, df) < p && hi < 1e300)
        hi *= 2.0;
    for (int i = 0; i < 200 && hi - lo > 1e-15 * hi; ++i) {
        const double mid = 0.5 * (lo + hi);
        (StudentTCdf(mid, df) < p ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
}

double Percentile(const QVector<double> &sorted, double p)
{
    if (sorted.isEmpty())
        return NaN;
    const double rank = p / 100.0 * double(sorted.size() - 1);
    const int below = int(std::floor(rank));
    if (below >= sorted.size() - 1)
        return sorted.last();
    const double fraction = rank - below;
    return sorted[below] + fraction * (sorted[below + 1] - sorted[below]);
}

namespace {

// Percentile's rule on values in any order, without sorting them all: the
// two order statistics around the rank, found by selection (linear on
// average, where a sort of 100 000 values is most of the statistics' time).
// Reorders v.
double SelectPercentile(QVector<double> &v, double p)
{
    const double rank = p / 100.0 * double(v.size() - 1);
    const int below = int(std::floor(rank));
    if (below >= v.size() - 1)
        return *std::max_element(v.begin(), v.end());
    std::nth_element(v.begin(), v.begin() + below, v.end());
    const double lower = v[below];
    const double upper = *std::min_element(v.begin() + below + 1, v.end());
    const double fraction = rank - below;
    return lower + fraction * (upper - lower);
}

} // namespace

PathStats ComputePathStats(const QVector<double> &values)
{
    PathStats s;
    QVector<double> v;
    v.reserve(values.size());
    // Summed in measurement order, as the results file's mean is.
    double sum = 0.0;
    for (double x : values) {
        if (std::isfinite(x)) {
            v.append(x);
            sum += x;
        } else {
            ++s.missing;
        }
    }
    s.n = v.size();
    s.mean = s.sd = s.min = s.max = s.median = s.p5 = s.p95 = s.ciLow = s.ciHigh = NaN;
    if (s.n == 0)
        return s;

    s.mean = sum / s.n;
    const auto [low, high] = std::minmax_element(v.begin(), v.end());
    s.min = *low;
    s.max = *high;
    // Two passes: the squares of deviations, not of the values, so a large
    // common offset costs no precision.
    double squares = 0.0;
    for (double x : v)
        squares += (x - s.mean) * (x - s.mean);
    s.median = SelectPercentile(v, 50.0);
    s.p5 = SelectPercentile(v, 5.0);
    s.p95 = SelectPercentile(v, 95.0);
    if (s.n < 2)
        return s;
    s.sd = std::sqrt(squares / (s.n - 1));
    const double half = StudentTQuantile(0.975, s.n - 1) * s.sd / std::sqrt(double(s.n));
    s.ciLow = s.mean - half;
    s.ciHigh = s.mean + half;
    return s;
}

const PathStats &RunStats::of(DelayPath path) const
{
    return ForPath(path, src2Rf, src2Hd, src2Snk);
}

RunStats ComputeRunStats(const RunRecord &run)
{
    RunStats stats;
    stats.src2Rf = ComputePathStats(run.Src2RfArr());
    stats.src2Snk = ComputePathStats(run.Src2SnkArr());
    // Without the option every reading is a placeholder 0, not a delay.
    QVector<double> hd;
    bool measured = false;
    for (const Measurement &m : run.measurements) {
        if (m.hdGap == DelayGap::NotMeasured)
            continue;
        measured = true;
        hd.append(m.src2Hd);
    }
    stats.src2Hd = ComputePathStats(hd);
    stats.src2Hd.measured = measured || run.settings.hdmi;
    if (!stats.src2Hd.measured)
        stats.src2Hd.missing = 0;
    return stats;
}

MeanDifference CompareMeans(const PathStats &a, const PathStats &b)
{
    MeanDifference d;
    d.diff = b.mean - a.mean;
    d.ciLow = d.ciHigh = d.df = NaN;
    if (a.n < 2 || b.n < 2)
        return d;
    const double va = a.sd * a.sd / a.n;
    const double vb = b.sd * b.sd / b.n;
    const double se = std::sqrt(va + vb);
    if (se == 0.0) {
        // Both runs without spread: any difference is certain, none is none.
        d.ciLow = d.ciHigh = d.diff;
        d.df = a.n + b.n - 2;
        d.significant = d.diff != 0.0;
        return d;
    }
    d.df = (va + vb) * (va + vb) / (va * va / (a.n - 1) + vb * vb / (b.n - 1));
    const double half = StudentTQuantile(0.975, d.df) * se;
    d.ciLow = d.diff - half;
    d.ciHigh = d.diff + half;
    d.significant = d.ciLow > 0.0 || d.ciHigh < 0.0;
    return d;
}
