// How the fine and corrected means and their uncertainties read, in the
// Statistics window and on the command line alike: locale-free numbers, an
// uncertainty never rounded down.
#pragma once

#include "measurement/calibration.h"
#include "measurement/uncertainty.h"

#include <QString>
#include <QStringList>

// A value in ms with `decimals` decimals; "-" where there is none.
QString UncertaintyNumber(double ms, int decimals = 4);
// An uncertainty in ms, rounded up to `decimals` decimals.
QString UncertaintyBound(double ms, int decimals = 4);

// One row per figure: the fine mean, the calibration's offset, the
// corrected mean, its expanded uncertainty and coverage factor, the four
// components, and the largest uncertainty of a single delay. Names fit a
// column of 18 characters.
QStringList UncertaintyRowNames();
QStringList UncertaintyCells(const MeanUncertainty &u, const PathCalibration &calibration);

// "Source->Sink: 120.167 ms +/- 0.008 ms (k = 2.02), corrected mean of 40";
// empty where the path has no uncertainty.
QString UncertaintyLine(const DelayPathInfo &path, const MeanUncertainty &u);

// "No calibration, time base 25 ppm" or "Bench A, 2026-03-01, time base 5 ppm".
QString CalibrationSummary(const Calibration &calibration);
