#include "sim/waveform.h"

#include "sim/scpi.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

namespace benchsim {

namespace {

// SplitMix64: fully defined here, so draws are the same on every platform,
// and cheap enough for tens of millions of samples per acquisition.
class Random {
public:
    Random(quint32 seed, int index, int stream)
        : state_(mix(mix(seed) ^ (quint64(quint32(index)) << 8 | quint64(quint32(stream)))))
    {
    }
    quint64 next()
    {
        state_ += 0x9E3779B97F4A7C15ull;
        return mix(state_);
    }
    // Uniform in [-1, 1).
    double uniform() { return double(next() >> 11) * (2.0 / 9007199254740992.0) - 1.0; }

private:
    static quint64 mix(quint64 z)
    {
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    quint64 state_;
};

// Inverse of the standard normal distribution function: Acklam's rational
// approximation, refined by one Halley step to full double precision.
double normalQuantile(double p)
{
    static const double a[] = {-3.969683028665376e+01, 2.209460984245205e+02, -2.759285104469687e+02,
                               1.383577518672690e+02,  -3.066479806614716e+01, 2.506628277459239e+00};
    static const double b[] = {-5.447609879822406e+01, 1.615858368580409e+02, -1.556989798598866e+02,
                               6.680131188771972e+01,  -1.328068155288572e+01};
    static const double c[] = {-7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
                               -2.549732539343734e+00, 4.374664141464968e+00,  2.938163982698783e+00};
    static const double d[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                               3.754408661907416e+00};
    const double low = 0.02425;
    double x;
    if (p < low) {
        const double q = std::sqrt(-2 * std::log(p));
        x = (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5])
            / ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
    } else if (p <= 1 - low) {
        const double q = p - 0.5;
        const double r = q * q;
        x = (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q
            / (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1);
    } else {
        const double q = std::sqrt(-2 * std::log1p(-p));
        x = -(((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5])
            / ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
    }
    const double e = 0.5 * std::erfc(-x / std::sqrt(2.0)) - p;
    const double sqrtTwoPi = 2.5066282746310002;
    const double u = e * sqrtTwoPi * std::exp(x * x / 2);
    return x - u / (1 + x * u / 2);
}

// Normal noise at 4096 equally likely levels (finer than the 8 to 12 bits
// of an oscilloscope's converter), clipped at 3 sigma so no sample ever
// reaches a detection threshold by chance. 12 random bits pick a level, so
// a sample costs a look-up in a table that stays in the first-level cache,
// not a logarithm, a root and a cosine.
constexpr int LevelBits = 12;
constexpr int Levels = 1 << LevelBits;
constexpr int DrawsPerWord = 64 / LevelBits;
using NormalTable = std::array<double, Levels>;

const NormalTable &clippedNormal()
{
    static const NormalTable table = [] {
        NormalTable t{};
        for (int i = 0; i < Levels / 2; ++i) {
            const double z = std::fmax(-3.0, normalQuantile((i + 0.5) / Levels));
            t[size_t(i)] = z;
            t[size_t(Levels - 1 - i)] = -z; // exactly symmetric: the noise has no offset
        }
        return t;
    }();
    return table;
}

// The one expression every sample goes through, so a sample drawn alone
// equals the same sample drawn in its record.
float noisySample(double level, double sigma, quint64 bits)
{
    return float(level + sigma * clippedNormal()[size_t(bits & (Levels - 1))]);
}

// The samples of one trace: level before up to rampFirst, level after from
// rampEnd on (either may be points: never), and in between the ramp's own
// level at each sample (rampLevel); each with noise of sigma, as
// little-endian float32 at out. An ideal step has rampFirst == rampEnd.
using RampLevel = std::function<double(int j)>;

void writeSamples(char *out, int points, int rampFirst, int rampEnd, double before, double after, double sigma,
                  Random &random, const RampLevel &rampLevel)
{
    float low[Levels], high[Levels];
    for (int i = 0; i < Levels; ++i) {
        low[i] = noisySample(before, sigma, quint64(i));
        high[i] = noisySample(after, sigma, quint64(i));
    }
    // Sample j takes the (j % DrawsPerWord)-th 12 bits of word j / DrawsPerWord.
    for (int j = 0; j < points; j += DrawsPerWord) {
        quint64 bits = random.next();
        char *at = out + 4 * qint64(j);
        if (j + DrawsPerWord <= points && (j + DrawsPerWord <= rampFirst || j >= rampEnd)) {
            // A whole word on one side of the edge: no test per sample.
            const float *table = j >= rampEnd ? high : low;
            for (int k = 0; k < DrawsPerWord; ++k, bits >>= LevelBits)
                qToLittleEndian(table[bits & (Levels - 1)], at + 4 * k);
        } else {
            for (int k = 0; k < DrawsPerWord && j + k < points; ++k, bits >>= LevelBits) {
                const int n = j + k;
                const quint64 draw = bits & (Levels - 1);
                const float v = n < rampFirst ? low[draw]
                                : n >= rampEnd ? high[draw]
                                               : noisySample(rampLevel(n), sigma, draw);
                qToLittleEndian(v, at + 4 * k);
            }
        }
    }
}

// Where a trace's edge ramp lies in its samples, for a trace whose sample j
// lies at time(j) (rising with j): the ramp rises linearly from low at
// edge - duration/2 to high at edge + duration/2. Without a duration it is
// the ideal step at the first sample at or after the edge.
struct RampSpan {
    int first = 0; // first sample past the ramp's start
    int end = 0;   // first sample at or past its end
};

template <typename Time>
int firstAtOrAfter(int points, double when, Time time)
{
    int lo = 0, hi = points; // the answer lies in [lo, hi]; hi == points: none
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (time(mid) >= when)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

template <typename Time>
RampSpan rampSpan(int points, double edge, double duration, Time time)
{
    RampSpan r;
    if (duration <= 0) {
        r.first = r.end = firstAtOrAfter(points, edge, time);
        return r;
    }
    // At the ramp's start the level is still low; the table gives it too.
    r.first = firstAtOrAfter(points, edge - duration / 2, time);
    r.end = firstAtOrAfter(points, edge + duration / 2, time);
    return r;
}

// Noise-free level of the ramp at time t.
double rampLevelAt(double t, double edge, double duration, double low, double high)
{
    const double f = std::clamp((t - (edge - duration / 2)) / duration, 0.0, 1.0);
    return low + (high - low) * f;
}

// When the noise-free ramp crosses level; the edge itself for an ideal step.
double crossingTime(double level, double edge, double duration, double low, double high)
{
    if (duration <= 0)
        return edge;
    return edge - duration / 2 + duration * (level - low) / (high - low);
}

// The level the application's RF rule uses on a trace: 0.05 on its scale of
// 0 .. 0.2 from the trace's own minimum to its maximum.
double rfRuleLevel(const float *samples, int count, bool littleEndian)
{
    float lo = 0, hi = 0;
    for (int i = 0; i < count; ++i) {
        const float v = littleEndian ? qFromLittleEndian<float>(samples + i) : samples[i];
        if (i == 0 || v < lo)
            lo = v;
        if (i == 0 || v > hi)
            hi = v;
    }
    return double(lo) + (double(hi) - double(lo)) * (ToolRfLevel / ToolRfScale);
}

enum Stream { Jitter, Channel1, Channel2, Channel3, Analyzer };

} // namespace

double recordSpan(bool benlo)
{
    return benlo ? 1.2 : 1.0;
}

double sampleTime(int j, int points, bool benlo)
{
    return benlo ? (j * 1.2) / (points - 1) - 0.6 : double(j) / (points - 1) - 0.5;
}

int firstSampleAtOrAfter(int points, bool benlo, double edge)
{
    const int j = firstAtOrAfter(points, edge, [&](int i) { return sampleTime(i, points, benlo); });
    return j < points ? j : -1;
}

double sweepTime(int i, int points, double span)
{
    return (i * span) / (points - 1) - span / 2;
}

double rampDuration(const Scenario &s)
{
    return s.riseMs / 1000.0 / 0.8;
}

namespace {

// How the three channels are drawn: channel c rises from low to high
// around edgeTime (seconds after the trigger).
struct ChannelPlan {
    Stream stream;
    double edgeTime;
    double low, high;
};

void channelPlans(const Scenario &s, const Truth &tr, double rfTime, ChannelPlan out[3])
{
    const double offset = tr.index < s.rejectFirst ? RejectOffsetV : 0.0;
    out[0] = {Channel1, 0.0, offset, offset + SourceStepV};
    out[1] = {Channel2, tr.src2SnkMs / 1000.0, 0.0, SinkHighV};
    out[2] = {Channel3, rfTime, 0.0, RfHighV};
}

RampSpan channelRamp(const Scenario &s, const Truth &tr, const ChannelPlan &plan)
{
    const bool benlo = s.isBenlo();
    return rampSpan(tr.points, plan.edgeTime, rampDuration(s),
                    [&](int j) { return sampleTime(j, tr.points, benlo); });
}

} // namespace

void planAcquisition(const Scenario &s, int index, int points, Acquisition *a)
{
    const bool benlo = s.isBenlo();
    Truth &tr = a->truth;
    tr = Truth();
    Random jitter(s.seed, index, Jitter);
    tr.index = index;
    tr.src2RfMs = s.src2RfMs + s.jitterMs * jitter.uniform();
    tr.src2SnkMs = s.src2SnkMs + s.jitterMs * jitter.uniform();
    tr.points = points;
    tr.timePerSample = recordSpan(benlo) / (points - 1);
    a->rfTime = tr.src2RfMs / 1000.0;
    tr.srcIndex = firstSampleAtOrAfter(points, benlo, 0.0);
    tr.rfIndex = firstSampleAtOrAfter(points, benlo, a->rfTime);
    tr.snkIndex = firstSampleAtOrAfter(points, benlo, tr.src2SnkMs / 1000.0);
    a->dataOffset = blockHeader(qint64(points) * 4).size();

    // The first channel-1 sample, drawn as makeSamples() will draw it, and
    // compared as the application does, after widening it to double.
    ChannelPlan plans[3];
    channelPlans(s, tr, a->rfTime, plans);
    const RampSpan srcRamp = channelRamp(s, tr, plans[0]);
    Random noise(s.seed, index, plans[0].stream);
    const quint64 draw = noise.next() & (Levels - 1);
    const double first = srcRamp.end == 0   ? noisySample(plans[0].high, s.noiseV, draw)
                         : srcRamp.first == 0 ? noisySample(rampLevelAt(sampleTime(0, points, benlo), 0.0,
                                                                         rampDuration(s), plans[0].low, plans[0].high),
                                                             s.noiseV, draw)
                                              : noisySample(plans[0].low, s.noiseV, draw);
    tr.accepted = first > -0.05 && first < 0.3;

    // The source level follows the noisy first sample, as the rule does; the
    // sink's is absolute; the RF one needs the whole trace (makeSamples).
    const double duration = rampDuration(s);
    tr.srcCrossS = crossingTime(first + ToolSourceRiseV, plans[0].edgeTime, duration, plans[0].low, plans[0].high);
    tr.snkCrossS = crossingTime(ToolSinkLevelV, plans[1].edgeTime, duration, plans[1].low, plans[1].high);
}

void makeSamples(const Scenario &s, int channel, Acquisition *a)
{
    Truth &tr = a->truth;
    const QByteArray header = blockHeader(qint64(tr.points) * 4);
    const int size = header.size() + tr.points * 4 + 1;
    ChannelPlan plans[3];
    channelPlans(s, tr, a->rfTime, plans);
    const ChannelPlan &plan = plans[channel];
    QByteArray &block = a->block[channel];
    // A block still being sent to a client keeps its bytes; otherwise its pages are reused.
    if (block.size() != size || !block.isDetached())
        block = QByteArray(size, Qt::Uninitialized);
    char *data = block.data();
    memcpy(data, header.constData(), size_t(header.size()));
    data[size - 1] = '\n';
    Random noise(s.seed, tr.index, plan.stream);
    const bool benlo = s.isBenlo();
    const double duration = rampDuration(s);
    const RampSpan ramp = channelRamp(s, tr, plan);
    writeSamples(data + a->dataOffset, tr.points, ramp.first, ramp.end, plan.low, plan.high, s.noiseV, noise,
                 [&](int j) {
                     return rampLevelAt(sampleTime(j, tr.points, benlo), plan.edgeTime, duration, plan.low, plan.high);
                 });
    if (channel == 2) {
        // Any level strictly between the two lies on an ideal step's edge.
        const double level = duration > 0
                                 ? rfRuleLevel(reinterpret_cast<const float *>(data + a->dataOffset), tr.points, true)
                                 : (plan.low + plan.high) / 2;
        tr.rfCrossS = crossingTime(level, plan.edgeTime, duration, plan.low, plan.high);
    }
}

QVector<float> analyzerTrace(const Scenario &s, int index, bool hasBurst, double rfTime, int n, double span,
                             int *rfIndex, double *rfCross)
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
    const double duration = rampDuration(s);
    RampSpan ramp;
    ramp.first = ramp.end = *rfIndex < 0 ? n : *rfIndex;
    if (hasBurst && duration > 0)
        ramp = rampSpan(n, rfTime, duration, [&](int i) { return sweepTime(i, n, span); });
    Random noise(s.seed, index, Analyzer);
    QVector<float> trace(n);
    writeSamples(reinterpret_cast<char *>(trace.data()), n, ramp.first, ramp.end, FloorDbm, BurstDbm,
                 AnalyzerNoiseDb, noise, [&](int i) {
                     return rampLevelAt(sweepTime(i, n, span), rfTime, duration, FloorDbm, BurstDbm);
                 });
    // Written little-endian; the trace is handed on in host order.
    for (float &v : trace)
        v = qFromLittleEndian<float>(&v);
    if (rfCross) {
        *rfCross = std::numeric_limits<double>::quiet_NaN();
        if (hasBurst) {
            const double level = duration > 0 ? rfRuleLevel(trace.constData(), n, false) : (FloorDbm + BurstDbm) / 2;
            *rfCross = crossingTime(level, rfTime, duration, FloorDbm, BurstDbm);
        }
    }
    return trace;
}

} // namespace benchsim
