// The measurement run without a window: N measurements with the acquisition,
// acceptance, retries and delay calculation that Start runs, driven by a
// plain description of the run. The window's Meas slot and the command-line
// mode both call it; progress goes out and cancellation comes in through
// callbacks, polled between instrument exchanges (never inside one).
//
// It touches no process-wide state: what it measured comes back as a
// RunOutcome, which the caller publishes (PublishRun, shared/measstate.h).
#pragma once

#include "instruments/osctype.h"
#include "measurement/runrecord.h"
#include "shared/visatypes.h"

#include <functional>

struct RunRequest
{
    int count = 0; // measurements wanted, at least 1
    const OscType *type = &BenloType;
    int numPts = 0;        // samples per trace before the run (the last run's)
    bool ifDemod = false;  // RF envelope from oscilloscope channel 3
    bool measHdmi = false; // read the video analyzer's HDMI delay
    ViSession osHdl = 0, saHdl = 0, vaHdl = 0;
    QDateTime started;  // the run's start, as its files were named for it; now when not given
    QString spoolFile;  // where blocks are spooled; empty: "Trace.tmp" in the working folder
};

struct RunCallbacks
{
    // Before each acquisition of measurement `index` (1-based).
    std::function<void(int index, const RunRecord &sofar)> acquiring;
    // Polled after every exchange; true ends the run there.
    std::function<bool()> stopRequested;
    // A measurement as it is kept, with its traces, before it joins the
    // record: the one moment they are handed out, since the record keeps
    // no traces (a long run would not fit in memory). The callback may
    // note in m what it did with them (Measurement::traceFiles).
    std::function<void(Measurement &m, const KeptTraces &traces)> kept;
    // An acquisition taken again, as it joins the record.
    std::function<void(const Retake &retake)> retaken;
};

// An acquisition that keeps being rejected (no trigger, source signal out of
// range, oscilloscope not answering) would otherwise hold the run forever.
constexpr int MaxRejectedInARow = 20;

// What a run measured: its record, and what the graph shows of it.
struct RunOutcome
{
    RunRecord record;
    // The last kept measurement's traces with their time axis (t in
    // seconds, trigger at 0) and edge times; empty traces and NaN edges
    // when the run kept nothing.
    KeptTraces last;
    QVector<double> t;
    double tsrc, trf, tsnk;
    int numPts = 0; // samples per trace after the run; the next run starts from it
    // Over the values each path has (NaN without any): the results file's
    // and the graph's means.
    double avgSrc2Rf, avgSrc2Hd, avgSrc2Snk;
    // Instruments that closed their connection during the run: their
    // sessions are gone, and the next run needs a new set-up.
    bool osLost = false, saLost = false, vaLost = false;
};

// Takes the run and puts the instruments back into free run (those still
// connected).
RunOutcome RunMeasurements(const RunRequest &request, const RunCallbacks &callbacks);

// The record's time axis for records of numPts samples of this family.
void SetTraceAxis(RunRecord *run, int numPts, const OscType &type);
