// The run record's members for the fine and corrected delays and their
// uncertainties (schema version 2, docs/run-record.md), added to the
// objects runjson.cpp builds.
#pragma once

#include "measurement/runrecord.h"
#include "measurement/uncertainty.h"

#include <QJsonObject>
#include <QJsonValue>

// measurements[]: fineEdges, fineMs, correctedMs, uncertaintyMs.
void AddMeasurementPrecision(QJsonObject &measurement, const Measurement &m, const Calibration &calibration);

// statistics.<path>: fineMean, correctedMean, uncertaintyMs.
void AddPathPrecision(QJsonObject &pathStats, const MeanUncertainty &u);

// The calibration used, whole; null when there was none.
QJsonValue CalibrationRecord(const Calibration &calibration);
