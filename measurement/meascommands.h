// The measurement run's instrument commands, in the order they are sent.
// What differs between oscilloscope families (the acquisition, the sweep
// points, the return to free run) is in their descriptors, instruments/osctype.h.
#pragma once

#include "instruments/meascommand.h"

// Stop the analyzer's continuous sweep so that it takes one externally
// triggered sweep with the oscilloscope's acquisition. A failure skips the
// acquisition.
inline constexpr MeasCommand StopSweep{MeasTarget::Sa, "INIT:CONT OFF;*OPC?\n", true};

inline constexpr const char *ReadSource = "CHAN1:DATA?\n";
// After a channel-1 read, for the families that ask for it: the analyzer's
// sweep gets as many points as the record; "SWE:POIN <n>;*OPC?\n".
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
