// One measurement's three traces read back from the trace files its run
// wrote, for showing any measurement of a run after the fact.
#pragma once

#include "measurement/runrecord.h"

#include <QString>
#include <QVector>

// A trace file holds at most what one block read can bring (MaxBlockBytes of
// 32-bit floats), as 64-bit samples; a larger file is not one of ours.
constexpr qint64 MaxTraceFileBytes = 80000000;

// One trace file's samples; false with the reason when it cannot be read
// or is larger than MaxTraceFileBytes (checked before reading).
bool ReadTraceFile(const QString &path, QVector<double> *out, QString *error);

struct MeasurementTraces
{
    QVector<double> t; // s, trigger at 0, as many samples as the source trace
    KeptTraces traces;
};

// The source, RF and sink trace files of measurement `index` (1-based), full
// paths, empty where one was not written: from run.traceFiles where it is
// given, else from the run's filesAt and the measurement's traceFiles
// flags (what a run itself keeps: a few bytes a measurement). Empty when
// the run wrote no trace files for it.
QStringList MeasurementTracePaths(const RunRecord &run, int index);

// The run wrote trace files at all.
bool RunWroteTraceFiles(const RunRecord &run);

// Reads measurement `index` (1-based) of `run` from the files
// MeasurementTracePaths names; the time axis follows from the run's
// oscilloscope type.
// An empty file (a trace that could not be read) gives an empty trace.
// False, with the reason in *error, when the run saved no trace files, when
// one of them was not written, or when a file cannot be read or is too large.
bool LoadMeasurementTraces(const RunRecord &run, int index, MeasurementTraces *out, QString *error);
