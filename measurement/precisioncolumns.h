// The delay table's columns after the first ones: each measurement's fine
// delays, then each path's corrected delay with its expanded uncertainty.
// Delays.csv and the Statistics window's table show them alike.
#pragma once

#include "measurement/runrecord.h"

#include <QStringList>
#include <QVector>

constexpr int PrecisionColumnCount = 8;

// Column titles with their units, a line break between what and which path
// ("Fine\nSource->RF (ms)"); a file writes the break as a space.
QStringList PrecisionColumnTitles();

// The measurement's values in the same order; NaN where there is none.
QVector<double> PrecisionColumnValues(const Measurement &m, const Calibration &calibration);
