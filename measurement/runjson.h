// The run record: one JSON file per run next to its results file, with
// everything needed to read the run again (docs/run-record.md describes it
// field by field), and reading it back for comparisons.
#pragma once

#include "measurement/runrecord.h"
#include "measurement/runstats.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

// 2 adds the fine and corrected delays, their uncertainties and the
// calibration; version 1 records still read.
constexpr int RunRecordSchemaVersion = 2;

// The names of the files a run wrote, for its record; empty where a file
// was not written.
struct RunFileNames
{
    QString results;
    QString csv;
    QVector<QStringList> traces; // per measurement: source, rf, sink (file names without the folder)
};

// A wall-clock time as the record and the delay table write it: ISO 8601
// with milliseconds and the UTC offset; empty when invalid.
QString RunRecordTime(const QDateTime &t);

QByteArray RunRecordJson(const RunRecord &run, const RunStats &stats, const QString &stamp, const RunFileNames &files);

// What a comparison needs of a stored run: its delays per path. Values that
// are missing are NaN; the HDMI path counts only where it was measured.
struct StoredRun
{
    int schemaVersion = 0;
    QString label;
    QString started;
    QVector<double> src2Rf, src2Hd, src2Snk;
    bool hdMeasured = false;

    const QVector<double> &values(DelayPath path) const;
    QVector<double> &values(DelayPath path);
    bool measured(DelayPath path) const { return path != DelayPath::Src2Hd || hdMeasured; }
};

// Reads a run record; false with the reason when the file is not one this
// version can read. Sizes are bounded: a record of more than 64 MB or with
// more measurements than a run can have is refused.
bool ReadRunRecord(const QString &path, StoredRun *run, QString *error);
