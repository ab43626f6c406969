// Edge times finer than a sample. The edge rules (delaycalc.h) name the
// first sample past a level; the trace crossed that level somewhere between
// that sample and the one before it. Linear interpolation between the two
// puts the crossing within the interval, and the samples around them say
// how far that time can be from the truth: the interpolation's own error
// bound (how far the trace bends there) and the trace noise's share
// (docs/uncertainty.md).
#pragma once

#include "instruments/osctype.h"
#include "measurement/delaycalc.h"

#include <QVector>

#include <functional>
#include <limits>

struct FineEdge
{
    double time = std::numeric_limits<double>::quiet_NaN(); // s from the trigger; NaN without the edge
    // Largest error the interpolation itself can make, s: a bound, not a
    // standard deviation. A full sample interval where the two samples
    // cannot tell where inside it the crossing lies (an ideal step).
    double boundS = std::numeric_limits<double>::quiet_NaN();
    // Standard deviation of the time that the trace's noise causes, s.
    double noiseS = std::numeric_limits<double>::quiet_NaN();
    double noiseV = std::numeric_limits<double>::quiet_NaN(); // the trace noise estimated (trace units)
};

struct FineEdges
{
    FineEdge src, rf, snk;
};

// The crossing of `level` between samples i - 1 and i of y, whose sample j
// lies at time(j). baseNoise: the level itself carries the noise of one
// sample (the source level is relative to the first sample). An index
// below 0 gives no edge.
FineEdge FineCrossing(const QVector<double> &y, int i, double level, const std::function<double(int)> &time,
                      bool baseNoise);

// The three edges CalcDelays found (its sample indices in r), finer: the
// source and sink on the time axis t, the RF edge at the start of its run
// of eight on the index formula, as CalcDelays takes them.
FineEdges CalcFineEdges(int pts, const QVector<double> &d1, const QVector<double> &d2, const QVector<double> &d3,
                        const QVector<double> &t, const OscType &type, const DelayResult &r);

// A trace's noise (standard deviation, trace units) from its samples before
// index `end`: from their differences, which a slope does not change, by the
// median absolute deviation, which a corner or a spike does not move.
double TraceNoise(const QVector<double> &y, int end);
