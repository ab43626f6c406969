#include "measurement/delaycalc.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double NotFound = std::numeric_limits<double>::quiet_NaN();

int Limit(int pts, int size) { return std::max(0, std::min(pts, size)); }

} // namespace

QVector<double> BuildTimeAxis(int pts, const OscType &type)
{
    QVector<double> axis;
    axis.reserve(std::max(0, pts));
    for (int j = 0; j < pts; ++j)
        axis.append(SampleTime(j, pts, type));
    return axis;
}

void ScaleRf(QVector<double> &d2)
{
    if (d2.isEmpty())
        return;
    double lo = d2[0];
    double hi = d2[0];
    for (int i = 1; i < d2.size(); ++i) {
        if (d2[i] < lo)
            lo = d2[i];
        if (d2[i] > hi)
            hi = d2[i];
    }
    const double factor = 0.2 / (hi - lo);
    for (double &v : d2)
        v = (v - lo) * factor;
}

DelayResult CalcDelays(int pts, const QVector<double> &d1, const QVector<double> &d2,
                       const QVector<double> &d3, const QVector<double> &t, const OscType &type)
{
    DelayResult r{NotFound, NotFound, NotFound, NotFound, NotFound, -1, -1, -1};

    // Source edge: first rise of more than 35 mV above the first sample.
    const int srcEnd = Limit(pts, std::min(d1.size(), t.size()));
    int iSrc = srcEnd;
    for (int i = 0; i < srcEnd; ++i) {
        if (d1[i] - d1[0] > SrcRise) {
            iSrc = i;
            break;
        }
    }

    if (iSrc < srcEnd) {
        r.tsrc = t[iSrc];
        r.iSrc = iSrc;

        // RF edge: eight consecutive samples above the level, never before
        // the source edge; a NaN sample breaks the run.
        const int rfEnd = Limit(pts, d2.size() - (RfRun - 1));
        for (int i = iSrc; i < rfEnd; ++i) {
            int k = 0;
            while (k < RfRun && d2[i + k] > RfLevel)
                ++k;
            if (k == RfRun) {
                // From the index formula, not from t: the analyzer's trace
                // has no time axis of its own.
                r.trf = SampleTime(i, pts, type);
                r.iRf = i;
                r.Src2Rf = r.trf == 0.0 ? 0.0 : (r.trf - r.tsrc) * 1000.0;
                break;
            }
        }
    }

    // Sink edge: searched from the first sample, not from the source edge.
    const int snkEnd = Limit(pts, std::min(d3.size(), t.size()));
    for (int i = 0; i < snkEnd; ++i) {
        if (d3[i] >= SnkLevel) {
            r.tsnk = t[i];
            r.iSnk = i;
            break;
        }
    }
    r.Src2Snk = (r.tsnk - r.tsrc) * 1000.0; // NaN when either edge is missing
    return r;
}

double FiniteMean(const QVector<double> &values)
{
    double sum = 0.0;
    int count = 0;
    for (double v : values) {
        if (std::isfinite(v)) {
            sum += v;
            ++count;
        }
    }
    return count == 0 ? NotFound : sum / double(count);
}
