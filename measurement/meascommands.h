// The measurement run's instrument commands, in the order they are sent.
// Every configuring command is a query ending in ";*OPC?" so the instrument
// answers only once it has finished; only the VISA status of the answer counts.
#pragma once

enum class MeasTarget { Osc, Sa };

struct MeasCommand
{
    MeasTarget target;
    const char *command;
    bool mustSucceed; // a failure ends the acquisition; otherwise the status is ignored
};

// Stop the analyzer's continuous sweep so that it takes one externally
// triggered sweep with the oscilloscope's acquisition. A failure skips the
// acquisition.
inline constexpr MeasCommand StopSweep{MeasTarget::Sa, "INIT:CONT OFF;*OPC?\n", true};

// One single acquisition, then channel 1 is read as float32 block.
inline constexpr MeasCommand OrvixAcquire[] = {
    {MeasTarget::Osc, "INIT:CONT OFF;*OPC?\n", true},
    {MeasTarget::Osc, "*TRG;*OPC?\n", true},
    {MeasTarget::Osc, "FORM REAL,32;*OPC?\n", true},
};
inline constexpr MeasCommand BenloAcquire[] = {
    {MeasTarget::Osc, "SING;*OPC?\n", false}, // its status is ignored
    {MeasTarget::Osc, "FORM REAL,32;*OPC?\n", true},
    {MeasTarget::Osc, "*TRG;*OPC?\n", true},
};
inline constexpr const char *ReadSource = "CHAN1:DATA?\n";
// Benlo only, after a successful channel-1 read: the analyzer's sweep gets
// as many points as the oscilloscope record; "SWE:POIN <n>;*OPC?\n".
inline constexpr const char *SweepPointsPrefix = "SWE:POIN ";

// RF envelope: oscilloscope channel 3 with IF/video demodulation, otherwise
// the analyzer's own trace 1 of <n> points ("TRAC? TRACE1, <n>\n").
inline constexpr const char *ReadRfChannel = "CHAN3:DATA?\n";
inline constexpr MeasCommand RfTraceFormat{MeasTarget::Sa, "FORM REAL,32;*OPC?\n", true};
inline constexpr const char *RfTracePrefix = "TRAC? TRACE1, ";

// Video analyzer: status 1 means a valid HDMI in/out delay reading.
inline constexpr const char *HdmiStatus = "READ:AVDA:TTV:STAT?\n";
inline constexpr const char *HdmiCount = "READ:AVDA:TTV:COUN?\n";
inline constexpr const char *HdmiValue = "READ:AVDA:TTV:VAL?\n";

inline constexpr const char *ReadSink = "CHAN2:DATA?\n";

// Back to free running after the run, whatever happened; statuses ignored.
inline constexpr MeasCommand OrvixFreeRun[] = {
    {MeasTarget::Osc, "RUNC;*OPC?\n", false},
    {MeasTarget::Sa, "INIT:CONT ON;*OPC?\n", false},
};
inline constexpr MeasCommand BenloFreeRun[] = {
    {MeasTarget::Osc, "RUN;*OPC?\n", false},
    {MeasTarget::Sa, "INIT:CONT ON;*OPC?\n", false},
};
