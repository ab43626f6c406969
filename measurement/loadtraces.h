// One measurement's three traces, read back from the trace files its run
// wrote: the run keeps no traces in memory, so a view of any measurement but
// the last reads its files.
#pragma once

#include "measurement/resultsfile.h"
#include "measurement/runrecord.h"

#include <QString>

// The path of one of a measurement's trace files; empty when it was not
// written (Save Data off, --no-traces, or the write failed).
QString MeasurementTraceFile(const RunRecord &run, const Measurement &m, TraceKind kind);

// Measurement `index` (1-based) of run: its source, RF and sink traces, the
// count being the source trace's samples. A file that was not written gives
// an empty trace. False with the reason when the run has no such
// measurement or wrote none of its files, or when a file it wrote cannot be
// read or is longer than any trace (MaxBlockBytes / 4 samples).
bool LoadMeasurementTraces(const RunRecord &run, int index, KeptTraces *traces, QString *error);
