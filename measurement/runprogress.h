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

// elapsedMs: time since the run started.
RunProgress ProgressOf(int index, int count, const RunRecord &sofar, qint64 elapsedMs);

// "Source->RF 40.1 ms, Source->Sink 120 ms" (the HDMI reading too when it is
// measured); "no value yet" before the first.
QString RunningMeansText(const RunProgress &p);

// "about 12 s left", "about 3 min left"; empty while unknown.
QString TimeLeftText(const RunProgress &p);

// What to check when acquisitions time out; empty while they do not.
QString TriggerHintText(const RunProgress &p);
