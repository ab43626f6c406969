// Shared measurement state: process-wide, one instance each, zero or empty
// at process start, used only on the GUI thread.
#pragma once

#include "measurement/runrecord.h"

#include <QVector>

extern QVector<double> d1; // source trace, oscilloscope channel 1, volts
extern QVector<double> d2; // RF envelope, scaled to 0..0.2
extern QVector<double> d3; // sink trace, oscilloscope channel 2, volts
extern QVector<double> t;  // time axis, seconds, trigger at 0

extern int NumPts; // samples per trace

extern double tsrc, trf, tsnk; // edge times of the last accepted measurement, seconds

extern double AvgSrc2Rf;  // ms
extern double AvgSrc2Hd;  // the video analyzer's own reading
extern double AvgSrc2Snk; // ms

extern int OsTypIdx;  // 0 = Orvix, any other value = Benlo
extern bool MeasHdmi; // HDMI delay measurement on, mirrors VaHdmi

// The last run: its measurements, retakes and how it ended, for the
// statistics and the run's record.
extern RunRecord LastRun;

struct RunOutcome;

// Puts what a run measured where the graph and the Statistics window read
// it: the last kept acquisition's traces, time axis and edge times, the
// sample count, the means and the record. The one writer of this state
// besides the Type box and the HDMI check box.
void PublishRun(const RunOutcome &outcome);
