// The three instrument set-ups without a window: what the Init buttons and
// the command-line mode both run. Each opens a fresh session (closing the
// one held before), sends its table and says how it went.
#pragma once

#include "instruments/errorqueue.h"
#include "instruments/osctype.h"
#include "shared/benchsettings.h"
#include "shared/visatypes.h"

#include <QString>

struct OscSetupRequest
{
    QString resource;
    bool reset = false;
    double trgLevel = 0.0; // volts
    bool ifDemod = false;  // "Use IF/Video-Demod": the Orvix type sets up channel 3
    const OscType *type = &BenloType;
};

struct SaSetupRequest
{
    QString resource;
    bool reset = false;
    double centerFreq = 0.0; // hertz
    const OscType *type = &BenloType; // the sweep time follows the oscilloscope's window
};

struct VaSetupRequest
{
    QString resource;
    bool reset = false;
    double threshold = 0.0; // percent of the video level
};

struct SetupOutcome
{
    ViStatus status = VI_SUCCESS; // exactly VI_SUCCESS: the instrument is ready
    // The first failure that explains the outcome: the step ("open",
    // "I/O time-out", a command as in SetupStepText) and its status.
    QString failedStep;
    ViStatus failedStatus = VI_SUCCESS;
    ViUInt32 failedTimeoutMs = 0; // the time-out that applied to that step
    QString failedDetail;         // what the instrument said about that failure, if anything
    QString identity;             // the "*IDN?" reply, where the set-up reads one
    // What the instrument's error queue held after the set-up's commands
    // (instruments/errorqueue.h): any entry means it refused some of them.
    ErrorQueueReport refusals;
    QString refusalHint; // what to check then, e.g. "is the Type right?"
    QString resource;             // the resource string the set-up tried

    bool ready() const { return status == VI_SUCCESS && !refusals.refused(); }
};

SetupOutcome SetUpOscilloscope(ViSession rm, ViSession &hdl, const OscSetupRequest &request);
SetupOutcome SetUpAnalyzer(ViSession rm, ViSession &hdl, const SaSetupRequest &request);
SetupOutcome SetUpVideoAnalyzer(ViSession rm, ViSession &hdl, const VaSetupRequest &request);

// One line for the operator: "<instrument>: ready" (with the identity where
// one was read), "<instrument> at "<resource>": Init failed at <step>: <reason>"
// (the resource as the set-up was given it), or
// "<instrument>: Init failed: the instrument refused k set-up commands
// (first: <its entry>)" and the hint.
QString SetupOutcomeText(const QString &instrument, const SetupOutcome &outcome);

// The settings a run was made with, for its record: what each set-up was
// given, plus the run's own choices. The window and the command line note
// them alike.
BenchSettings SettingsUsed(const OscSetupRequest &osc, const SaSetupRequest &sa, const VaSetupRequest &va,
                           int osTypIdx, bool ifDemod, bool hdmi, bool saveData);
