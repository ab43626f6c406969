// The measurement run without a window: N measurements with the acquisition,
// acceptance, retries and delay calculation that Start runs, driven by a
// plain description of the run. The window's Meas slot and the command-line
// mode both call it; progress goes out and cancellation comes in through
// callbacks, polled between instrument exchanges (never inside one).
//
// It works on the shared measurement state as Meas always has: d1, d2, d3, t
// and NumPts hold the last acquisition, tsrc/trf/tsnk and the means the last
// run's results.
#pragma once

#include "measurement/runrecord.h"
#include "shared/visatypes.h"

#include <functional>

struct RunRequest
{
    int count = 0;         // measurements wanted, at least 1
    int osTypIdx = 1;      // 0 Orvix, any other value Benlo
    bool ifDemod = false;  // RF envelope from oscilloscope channel 3
    bool measHdmi = false; // read the video analyzer's HDMI delay
    ViSession osHdl = 0, saHdl = 0, vaHdl = 0;
    bool keepTraces = true; // keep every measurement's traces (the trace files need them)
};

struct RunCallbacks
{
    // Before each acquisition of measurement `index` (1-based).
    std::function<void(int index, const RunRecord &sofar)> acquiring;
    // Polled after every exchange; true ends the run there.
    std::function<bool()> stopRequested;
};

// An acquisition that keeps being rejected (no trigger, source signal out of
// range, oscilloscope not answering) would otherwise hold the run forever.
constexpr int MaxRejectedInARow = 20;

// Takes the run, puts the instruments back into free run (those still
// connected), and sets the means AvgSrc2Rf, AvgSrc2Hd, AvgSrc2Snk.
RunRecord RunMeasurements(const RunRequest &request, const RunCallbacks &callbacks);
