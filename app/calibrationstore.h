// Where the window keeps the calibration it uses: a file of its own beside
// the settings file (which keeps exactly its own keys), named after it:
// ".../QuenviaCodecTiming.cfg" keeps ".../QuenviaCodecTiming.calibration.json".
// The command line reads the same file beside the settings it reads.
#pragma once

#include "measurement/calibration.h"

#include <QString>

QString RememberedCalibrationFile(const QString &settingsFile);

// A missing file is no calibration (true, not loaded). False with the
// reason for a file that cannot be read or holds no valid calibration.
bool LoadRememberedCalibration(const QString &settingsFile, Calibration *calibration, QString *error);

// Writes it, or removes the file for no calibration. Empty when done, else
// the reason.
QString RememberCalibration(const QString &settingsFile, const Calibration &calibration);
