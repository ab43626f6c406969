// The settings file (INI, through QSettings): thirteen keys in four groups.
// Plain functions, so the window and the command line read it alike.
#pragma once

#include "shared/benchsettings.h"

#include <QString>

// Every key missing from the file (or the whole file) takes its default;
// the resource strings default to the window's. A number that is not one
// reads as 0.
BenchSettings ReadBenchSettings(const QString &fnam);

// Writes the thirteen keys, keeping whatever else the file holds, and
// creates missing directories on the way. False, with the system's reason in
// *error, when the file could not be written.
bool WriteBenchSettings(const QString &fnam, const BenchSettings &settings, QString *error);
