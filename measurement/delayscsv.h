// The run's delays as a table a spreadsheet opens directly: RFC 4180 CSV
// with a header row that carries the units, one row per kept measurement.
#pragma once

#include "measurement/runrecord.h"

#include <QByteArray>
#include <QString>

// Columns: the measurement's index, its wall-clock time (ISO 8601 with the
// UTC offset, as in the run record), Source->RF, Source->HDMI (the video
// analyzer's reading) and Source->Sink in ms, and the acquisitions taken
// again just before it. A delay without a value is an empty cell. Numbers
// are written with as many digits as it takes to read back the same double,
// never in the locale's format; lines end in CR LF.
QByteArray DelaysCsv(const RunRecord &run);

// The table's first row, and one measurement's row, each with its CR LF:
// DelaysCsv is the header followed by every row.
QByteArray DelaysCsvHeader();
QByteArray DelaysCsvRow(const Measurement &m, const Calibration &calibration);

// One field: quoted, with quotes doubled, when it holds a comma, a quote or
// a line break; as it stands otherwise.
QByteArray CsvField(const QString &text);
