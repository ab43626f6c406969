// The command tables of the three instrument set-ups, in the order they are
// sent. Every configuring command ends in ";*OPC?\n" so that the instrument
// answers only once the setting has completed; the status of that answer
// is all that counts.
#pragma once

#include "instruments/setupsequence.h"

// Oscilloscope, sent once the session is open and its time-out set.
// SYST:ERR? reads one error-queue entry as a communication check.
SetupTable OsCheckSteps();
SetupTable OrvixSteps(double trgLevel); // OsTypIdx 0
SetupTable BenloSteps(double trgLevel); // any other OsTypIdx

// Spectrum analyzer: three blocks after the identity.
SetupTable SaSettingSteps(double centerFreq); // a failure skips the rest of the block
SetupTable SaSweepSteps(double sweepTime);    // a failure ends the set-up
SetupTable SaOutputSteps();                   // a failure skips to go-to-local

// Sweep time in seconds, matched to the oscilloscope's time base.
double SaSweepTime(int osTypIdx);
// Model words searched in the upper-cased identity reply.
bool SaIsBriska(const QString &identity); // needs "FREQ:MODE SW"
bool SaIsDeskal(const QString &identity); // has no IF output

// Video analyzer, sent once the session is open and its time-out set.
SetupTable VaSteps(double threshold);
