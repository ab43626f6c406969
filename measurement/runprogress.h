// Running figures of a run under way, for the progress dialog and the
// command line's progress lines.
#pragma once

#include "measurement/runrecord.h"

#include <QString>

struct RunProgress
{
    int index = 0;  // the measurement being taken (1-based)
    int count = 0;  // measurements wanted
    int kept = 0;   // measurements kept so far
    int retaken = 0; // acquisitions taken again so far
    // Means of the values so far (NaN without one); the HDMI mean only when measured.
    double meanRf, meanHd, meanSnk;
    bool hdMeasured = false;
    double secondsLeft; // NaN until a measurement has been kept
    // An acquisition for the measurement under way got no answer in time:
    // most likely nothing triggers.
    bool notTriggering = false;
};

// The running sums behind the progress figures, brought up to date with
// the measurements and retakes added since the last call: a constant cost
// per measurement however long the run. The means are summed in measurement
// order, so they equal FiniteMean over the same values to the last bit.
class RunTally
{
public:
    void catchUp(const RunRecord &sofar);
    // The figures as they stood after the first `kept` measurements and
    // `retaken` retakes of a record this tally has caught up with.
    void catchUp(const RunRecord &sofar, int kept, int retaken);

    int kept() const { return kept_; }
    int retaken() const { return retaken_; }
    double mean(DelayPath path) const;
    bool hdMeasured() const { return hdMeasured_; }

private:
    int kept_ = 0;
    int retaken_ = 0;
    double sum_[3] = {0, 0, 0};
    int n_[3] = {0, 0, 0};
    bool hdMeasured_ = false;
};

// elapsedMs: time since the run started. The tally gives the means and
// counts; sofar (the record it has caught up with) the retakes of the
// measurement under way.
RunProgress ProgressOf(int index, int count, const RunTally &tally, const RunRecord &sofar, qint64 elapsedMs);
// The same from the record alone: it goes over every measurement, so a
// display that follows a run keeps a RunTally instead.
RunProgress ProgressOf(int index, int count, const RunRecord &sofar, qint64 elapsedMs);

// "Source->RF 40.1 ms, Source->Sink 120 ms" (the HDMI reading too when it is
// measured); "no value yet" before the first.
QString RunningMeansText(const RunProgress &p);

// "about 12 s left", "about 3 min left"; empty while unknown.
QString TimeLeftText(const RunProgress &p);

// What to check when acquisitions time out; empty while they do not.
QString TriggerHintText(const RunProgress &p);
