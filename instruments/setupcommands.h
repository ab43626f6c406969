// The command tables of the three instrument set-ups, in the order they are
// sent. Every configuring command ends in ";*OPC?\n" so that the instrument
// answers only once the setting has completed; the status of that answer
// is all that counts.
#pragma once

#include "instruments/setupsequence.h"

// Oscilloscope, sent once the session is open and its time-out set.
// SYST:ERR? reads one error-queue entry as a communication check.
SetupTable OsCheckSteps();
// The two families' own tables (instruments/orvix.cpp, benlo.cpp), reached
// through their descriptors (instruments/osctype.h).
SetupTable OrvixSteps(double trgLevel);
SetupTable BenloSteps(double trgLevel);

// Spectrum analyzer: three blocks after the identity.
SetupTable SaSettingSteps(double centerFreq); // a failure skips the rest of the block
SetupTable SaSweepSteps(double sweepTime);    // a failure ends the set-up; seconds, OscType::saSweepTime()
SetupTable SaOutputSteps();                   // a failure skips to go-to-local

// Model words searched in the upper-cased identity reply.
bool SaIsBriska(const QString &identity); // needs "FREQ:MODE SW"
bool SaIsDeskal(const QString &identity); // has no IF output

// Video analyzer, sent once the session is open and its time-out set.
SetupTable VaSteps(double threshold);
