// Edge searches and delay calculation over one accepted measurement's
// traces, plus the time-axis and RF-scaling rules they rely on. Plain
// functions: no shared state, no I/O.
#pragma once

#include "instruments/osctype.h"

#include <QVector>

// Edge times in seconds (trigger at 0) and delays in milliseconds. An edge
// that is not found leaves its time NaN, and every delay that depends on it
// NaN, so a missing edge never turns into a plausible-looking number.
struct DelayResult
{
    double tsrc;
    double trf;
    double tsnk;
    double Src2Rf;
    double Src2Snk;
    // The samples the edges were found at; -1 where not found.
    int iSrc = -1;
    int iRf = -1;
    int iSnk = -1;
};

// The edge rules' levels.
constexpr double SrcRise = 0.035; // V above the first source sample, strictly exceeded
constexpr double RfLevel = 0.05;  // scaled RF level, strictly exceeded ...
constexpr int RfRun = 8;          // ... by this many consecutive samples
constexpr double SnkLevel = 0.06; // V, reached or exceeded

// The time axis of a record of `pts` samples, evenly over the family's
// window (SampleTime, instruments/osctype.h).
QVector<double> BuildTimeAxis(int pts, const OscType &type);

// Scales a trace in place to 0 .. 0.2 from its own minimum and maximum.
// A flat trace (max == min) becomes NaN throughout, so no RF edge is found.
void ScaleRf(QVector<double> &d2);

// Finds the source, RF and sink edges in the first `pts` samples and turns
// them into delays. Every search also stops at the size of the vector it
// reads, so shorter vectors are never read past their end.
DelayResult CalcDelays(int pts, const QVector<double> &d1, const QVector<double> &d2,
                       const QVector<double> &d3, const QVector<double> &t, const OscType &type);

// Mean over the finite values; NaN when there is none.
double FiniteMean(const QVector<double> &values);
