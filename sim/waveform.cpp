#include "sim/waveform.h"

#include <cmath>
#include <random>

namespace benchsim {

namespace {

constexpr double kTwoPi = 6.283185307179586;

// Deterministic draws on every platform: the engine is fully defined by the
// standard, the distributions are written out here.
class Noise {
public:
    Noise(quint32 seed, int index, int stream)
    {
        std::seed_seq seq{seed, quint32(index), quint32(stream)};
        engine_.seed(seq);
    }
    // Uniform in [-1, 1).
    double uniform() { return double(engine_()) / 2147483648.0 - 1.0; }
    // Normal with sigma, clipped at 3 sigma so no sample ever reaches a
    // detection threshold by chance.
    double gauss(double sigma)
    {
        if (sigma <= 0)
            return 0;
        const double u1 = (double(engine_()) + 1.0) / 4294967296.0;
        const double u2 = double(engine_()) / 4294967296.0;
        const double z = std::sqrt(-2.0 * std::log(u1)) * std::cos(kTwoPi * u2);
        return sigma * std::fmax(-3.0, std::fmin(3.0, z));
    }

private:
    std::mt19937 engine_;
};

enum Stream { Jitter, Channel1, Channel2, Channel3, Analyzer };

} // namespace

double recordSpan(bool benlo)
{
    return benlo ? 1.2 : 1.0;
}

QVector<double> timeAxis(int points, bool benlo)
{
    QVector<double> t(points);
    for (int j = 0; j < points; ++j)
        t[j] = benlo ? (j * 1.2) / (points - 1) - 0.6 : double(j) / (points - 1) - 0.5;
    return t;
}

double sweepTime(int i, int points, double span)
{
    return (i * span) / (points - 1) - span / 2;
}

int firstIndexAtOrAfter(const QVector<double> &t, double edge)
{
    for (int j = 0; j < t.size(); ++j)
        if (t[j] >= edge)
            return j;
    return -1;
}

Acquisition makeAcquisition(const Scenario &s, int index, int points)
{
    const bool benlo = s.isBenlo();
    Acquisition a;
    Truth &tr = a.truth;
    Noise jitter(s.seed, index, Jitter);
    tr.index = index;
    tr.src2RfMs = s.src2RfMs + s.jitterMs * jitter.uniform();
    tr.src2SnkMs = s.src2SnkMs + s.jitterMs * jitter.uniform();
    tr.points = points;
    tr.timePerSample = recordSpan(benlo) / (points - 1);
    a.rfTime = tr.src2RfMs / 1000.0;

    const QVector<double> t = timeAxis(points, benlo);
    tr.srcIndex = firstIndexAtOrAfter(t, 0.0);
    tr.rfIndex = firstIndexAtOrAfter(t, a.rfTime);
    tr.snkIndex = firstIndexAtOrAfter(t, tr.src2SnkMs / 1000.0);

    const double offset = index < s.rejectFirst ? kRejectOffsetV : 0.0;
    Noise n1(s.seed, index, Channel1), n2(s.seed, index, Channel2), n3(s.seed, index, Channel3);
    for (int c = 0; c < 3; ++c)
        a.channel[c].resize(points);
    for (int j = 0; j < points; ++j) {
        const bool afterSrc = tr.srcIndex >= 0 && j >= tr.srcIndex;
        const bool afterRf = tr.rfIndex >= 0 && j >= tr.rfIndex;
        const bool afterSnk = tr.snkIndex >= 0 && j >= tr.snkIndex;
        a.channel[0][j] = float(offset + (afterSrc ? kSourceStepV : 0.0) + n1.gauss(s.noiseV));
        a.channel[1][j] = float((afterSnk ? kSinkHighV : 0.0) + n2.gauss(s.noiseV));
        a.channel[2][j] = float((afterRf ? kRfHighV : 0.0) + n3.gauss(s.noiseV));
    }
    // Compared as the application does, after widening the sample to double.
    const double first = a.channel[0][0];
    tr.accepted = first > -0.05 && first < 0.3;
    return a;
}

QVector<float> analyzerTrace(const Scenario &s, int index, bool hasBurst, double rfTime, int n, double span,
                             int *rfIndex)
{
    *rfIndex = -1;
    if (hasBurst) {
        for (int i = 0; i < n; ++i) {
            if (sweepTime(i, n, span) >= rfTime) {
                *rfIndex = i;
                break;
            }
        }
    }
    Noise noise(s.seed, index, Analyzer);
    QVector<float> trace(n);
    for (int i = 0; i < n; ++i) {
        const bool burst = *rfIndex >= 0 && i >= *rfIndex;
        trace[i] = float((burst ? kBurstDbm : kFloorDbm) + noise.gauss(kAnalyzerNoiseDb));
    }
    return trace;
}

} // namespace benchsim
