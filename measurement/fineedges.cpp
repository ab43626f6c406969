#include "measurement/fineedges.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
// Samples before an edge the noise is estimated from.
constexpr int NoiseWindow = 256;
// Normal noise: standard deviation = 1.4826 x median absolute deviation.
constexpr double MadToSigma = 1.4826;
// A second difference of noise alone has a standard deviation of sqrt(6)
// sigma. Up to twice that, a bend is taken as noise, whose share the
// timing-noise term carries; which way the trace bends is read only beyond
// four times that, which noise reaches about once in ten thousand.
const double CurvatureNoise = 3.0 * std::sqrt(6.0);
const double BendSignNoise = 4.0 * std::sqrt(6.0);

double SecondDifference(const QVector<double> &y, int at)
{
    if (at < 1 || at + 1 >= y.size())
        return NaN;
    return y[at + 1] - 2.0 * y[at] + y[at - 1];
}

} // namespace

double TraceNoise(const QVector<double> &y, int end)
{
    end = std::min(end, int(y.size()));
    const int begin = std::max(0, end - NoiseWindow);
    QVector<double> diffs;
    diffs.reserve(NoiseWindow);
    for (int j = begin + 1; j < end; ++j)
        if (std::isfinite(y[j]) && std::isfinite(y[j - 1]))
            diffs.append(y[j] - y[j - 1]);
    if (diffs.size() < 2)
        return NaN;
    auto median = [](QVector<double> v) {
        const int mid = v.size() / 2;
        std::nth_element(v.begin(), v.begin() + mid, v.end());
        return v[mid];
    };
    const double center = median(diffs);
    for (double &d : diffs)
        d = std::fabs(d - center);
    // A difference carries the noise of two samples.
    return MadToSigma * median(diffs) / std::sqrt(2.0);
}

FineEdge FineCrossing(const QVector<double> &y, int i, double level, const std::function<double(int)> &time,
                      bool baseNoise)
{
    FineEdge e;
    if (i < 0 || i >= y.size())
        return e;
    const double t1 = time(i);
    // No sample before it below the level (the record's first sample, or an
    // RF burst already under way where its search began): the crossing lies
    // somewhere in the interval before this sample, if anywhere.
    if (i == 0 || !std::isfinite(y[i - 1]) || !(y[i - 1] < level) || !(y[i] >= level)) {
        e.time = t1;
        // Before the record's first sample nothing bounds it.
        e.boundS = i > 0 ? t1 - time(i - 1) : std::numeric_limits<double>::quiet_NaN();
        e.noiseS = 0.0;
        return e;
    }
    const double t0 = time(i - 1);
    const double h = t1 - t0;
    const double y0 = y[i - 1];
    const double y1 = y[i];
    const double rise = y1 - y0; // > 0
    const double f = (level - y0) / rise;
    e.time = t0 + f * h;

    // The crossing lies between the two samples wherever the trace rises
    // monotonically there, so the error is at most the farther end. Where
    // the trace is straight between them, linear interpolation is exact.
    // Second differences show where it bends: a single bend between the
    // two samples bends both of theirs, one outside only one of them, so
    // the smaller of the two bounds the error. Bends both ways close by
    // (the edge's start and end within a few samples) leave only the
    // farther end.
    const double resolution = std::ldexp(std::max(std::fabs(y0), std::fabs(y1)), -23) / std::sqrt(12.0);
    const double estimated = TraceNoise(y, i);
    const double noise = std::isfinite(estimated) ? std::max(estimated, resolution) : resolution;
    const double farther = h * std::max(f, 1 - f);
    const double signThreshold = BendSignNoise * noise;
    bool known = true, up = false, down = false;
    for (int at = i - 2; at <= i + 1; ++at) {
        const double d2 = SecondDifference(y, at);
        if (!std::isfinite(d2)) {
            known = false;
            break;
        }
        up = up || d2 > signThreshold;
        down = down || d2 < -signThreshold;
    }
    const double bend = std::min(std::fabs(SecondDifference(y, i - 1)), std::fabs(SecondDifference(y, i)))
                        - CurvatureNoise * noise;
    known = known && !(up && down);
    e.boundS = known ? std::min(farther, h * std::max(0.0, bend) / rise) : farther;

    // Noise: the sample values' share over the edge's slope, and the float32
    // samples' resolution where a trace has no noise to speak of. Where the
    // four samples around the crossing lie on one line, their least-squares
    // slope is steadier than the two samples' own rise.
    double slope = rise;
    if (known && !up && !down) {
        const double fitted = (-3.0 * y[i - 2] - y[i - 1] + y[i] + 3.0 * y[i + 1]) / 10.0;
        if (fitted > 0)
            slope = fitted;
    }
    e.noiseV = noise;
    const double weights = (1 - f) * (1 - f) + f * f + (baseNoise ? 1.0 : 0.0);
    e.noiseS = noise * std::sqrt(weights) * h / slope;
    return e;
}

FineEdges CalcFineEdges(int pts, const QVector<double> &d1, const QVector<double> &d2, const QVector<double> &d3,
                        const QVector<double> &t, const OscType &type, const DelayResult &r)
{
    FineEdges out;
    auto onAxis = [&t](int j) { return t[j]; };
    if (r.iSrc >= 0 && !d1.isEmpty())
        out.src = FineCrossing(d1, r.iSrc, d1[0] + SrcRise, onAxis, true);
    if (r.iRf >= 0)
        out.rf = FineCrossing(d2, r.iRf, RfLevel, [pts, &type](int j) { return SampleTime(j, pts, type); }, false);
    if (r.iSnk >= 0)
        out.snk = FineCrossing(d3, r.iSnk, SnkLevel, onAxis, false);
    return out;
}
