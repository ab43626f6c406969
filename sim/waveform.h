// The signals of one acquisition and their ground truth: a source step at
// the trigger (channel 1), the RF burst envelope (channel 3 and the analyzer
// trace) and the sink step (channel 2), with seeded noise and jitter.
#pragma once

#include "sim/bench.h"
#include "sim/scenario.h"

#include <QByteArray>
#include <QVector>

namespace benchsim {

// Levels, chosen so that the delay rules of the application find every edge
// on the first sample at or after it: the source rises 0.15 V (rule: more
// than 35 mV above the first sample), the sink reaches 0.1 V (rule: at least
// 60 mV), the burst is 60 dB above the analyzer's floor.
constexpr double SourceStepV = 0.15;
constexpr double SinkHighV = 0.1;
constexpr double RfHighV = 0.2;
constexpr double RejectOffsetV = 0.5; // lifts a rejected record out of -0.05..0.3 V
constexpr double FloorDbm = -80.0;
constexpr double BurstDbm = -20.0;
constexpr double AnalyzerNoiseDb = 1.0;

// The levels of the application's edge rules, for the truth of where each
// trace crosses them: the source more than 35 mV above its first sample,
// the RF envelope above 0.05 on a scale of 0 .. 0.2 from its trace's
// minimum to its maximum, the sink at 60 mV.
constexpr double ToolSourceRiseV = 0.035;
constexpr double ToolRfLevel = 0.05;
constexpr double ToolRfScale = 0.2;
constexpr double ToolSinkLevelV = 0.06;

// Record span in seconds: 1.0 (Orvix) or 1.2 (Benlo), trigger in the middle.
double recordSpan(bool benlo);
// Time of sample j exactly as the application builds its axis:
// j/(N-1) - 0.5, or (j*1.2)/(N-1) - 0.6.
double sampleTime(int j, int points, bool benlo);
// First sample whose time is at or after edge, -1 when none. The axis rises
// monotonically, so this is a binary search: no axis is built.
int firstSampleAtOrAfter(int points, bool benlo, double edge);
// Analyzer sweep of span seconds centred on the trigger: (i*span)/(n-1) - span/2.
double sweepTime(int i, int points, double span);
// How long every edge's linear ramp lasts, seconds: riseMs is its 10-90 %
// rise time, so the whole ramp takes riseMs / 0.8; 0 plays ideal steps.
// The ramp's 50 % point lies at the edge's time.
double rampDuration(const Scenario &s);

struct Acquisition {
    Truth truth;
    double rfTime = 0; // true burst start, seconds after the trigger
    // Channels 1..3 as whole REAL,32 responses: "#<n><count>", the samples
    // as little-endian float32 (volts), "\n". Made once per acquisition and
    // sent as they are, however often they are read.
    QByteArray block[3];
    int dataOffset = 0; // where the samples start in each block (the header's size)
};

// Acquisition number index of the scenario with the given record length:
// its truth (delays played, edge samples, whether its first sample lies in
// the window) and burst time, into *a. No sample is made, so a message of a
// thousand "*TRG" at 10 million points does not hold the instrument for
// minutes; the blocks are left as they were.
void planAcquisition(const Scenario &s, int index, int points, Acquisition *a);
// The samples of channel (0..2) of the acquisition planned in *a, written
// into a->block[channel]. Reproducible: the same scenario, index and length
// give the same samples. A buffer that nobody else holds is reused. For the
// RF channel it also sets a->truth.rfCrossS, which needs the samples.
void makeSamples(const Scenario &s, int channel, Acquisition *a);

// The analyzer's zero-span trace for an acquisition: n points over span
// seconds in dBm, burst from rfTime on. *rfIndex gets the burst's first
// index (-1 when outside the sweep). hasBurst false gives the floor only.
// *rfCross, when given, gets the noise-free time at which the trace crosses
// the application's RF level (NaN without a burst).
QVector<float> analyzerTrace(const Scenario &s, int index, bool hasBurst, double rfTime, int n, double span,
                             int *rfIndex, double *rfCross = nullptr);

} // namespace benchsim
