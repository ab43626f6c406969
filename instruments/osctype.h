// What differs between the oscilloscope families the tool drives, in one
// descriptor per family: the time window of a record, the set-up table, the
// commands of an acquisition and of the return to free run, and what the
// spectrum analyzer's sweep follows from it. The stored type index is looked
// up once; everything else asks the descriptor. A further family is one more
// descriptor with its tables.
#pragma once

#include "instruments/meascommand.h"
#include "instruments/setupsequence.h"

struct OscType
{
    const char *name; // as the Type box and the run record show it

    // The acquisition window, trigger in its middle: sample j of a record of
    // n samples lies at firstSampleTime + (j * recordSpan) / (n - 1) seconds.
    double recordSpan;
    double firstSampleTime;

    SetupTable (*setupSteps)(double trgLevel); // after the error query and the reset

    MeasCommands acquire; // one single acquisition, before channel 1 is read
    // After a channel-1 read, the analyzer's sweep gets as many points as
    // the record ("SWE:POIN <n>;*OPC?\n", status ignored).
    bool sweepPointsFollowRecord;
    MeasCommands freeRun; // after the run, whatever happened; statuses ignored

    // The analyzer sweeps the same window as the oscilloscope records (s).
    double saSweepTime() const { return recordSpan; }
};

extern const OscType OrvixType;
extern const OscType BenloType;

// The Type box's entries, in index order.
constexpr int OscTypeCount = 2;

// The family of a stored type index: 0 Orvix, 1 Benlo; any other value
// (an edited settings file, an empty Type box) counts as Benlo.
const OscType &OscTypeOf(int osTypIdx);

// The index the Type box can show: a known family's, else -1 (no entry).
int OscTypeIndex(int stored);

// Time of sample `index` in a record of `pts` samples. The multiplication
// comes before the division, in double precision.
double SampleTime(int index, int pts, const OscType &type);
