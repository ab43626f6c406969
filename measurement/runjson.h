// The run record: one JSON file per run next to its results file, with
// everything needed to read the run again (docs/run-record.md describes it
// field by field), and reading it back for comparisons.
#pragma once

#include "measurement/runrecord.h"
#include "measurement/runstats.h"

#include <QByteArray>
#include <QDateTime>
#include <QIODevice>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

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

// A time as RunRecordTime writes it, back; invalid for anything else.
QDateTime ParseRunRecordTime(const QString &text);

QByteArray RunRecordJson(const RunRecord &run, const RunStats &stats, const QString &stamp, const RunFileNames &files);

// The same written to out, with each element of "measurements" given as
// its compact JSON text (as MeasurementElement writes it), e.g. straight
// from the run's journal: a long run's record then costs no more than
// copying it, and only one element is in memory at a time. False when a
// write fails.
using MeasurementElements = std::function<QByteArray(int i)>;
bool WriteRunRecordJson(QIODevice *out, const RunRecord &run, const RunStats &stats, const QString &stamp,
                        const RunFileNames &files, const MeasurementElements &elements);

// One element of "measurements", compact, on one line; traceFiles holds
// the source, RF and sink file names (empty where a file was not written),
// or nothing when the run wrote no trace files; the corrected delays take
// the run's calibration off.
QByteArray MeasurementElement(const Measurement &m, const QStringList &traceFiles, const Calibration &calibration);

// The names of a measurement's trace files that are on disk (its
// traceFiles flags), without the folder; empty where a file is not.
QStringList TraceFileNames(const QString &filesAt, const Measurement &m);

// Reads an element of "measurements" back. False when a member the record
// always has is missing or of the wrong type; *traceFiles gets the three
// names (empty where null), or nothing when the member is null.
bool MeasurementFromElement(const QJsonObject &o, Measurement *m, QStringList *traceFiles);

// What a run was set up with, as a record and its journal begin: tool,
// label, stamp, start, measurements asked for, settings and instruments.
QJsonObject RunHeadJson(const RunRecord &run, const QString &stamp);
// The same back into run (label, started, requested, settings, saIdentity);
// false when a member is missing or of the wrong type.
bool RunHeadFromJson(const QJsonObject &head, RunRecord *run);

// "completed", "canceled", ... and back; false for a word it does not know.
QString RunEndCode(RunEnd end);
bool RunEndFromCode(const QString &code, RunEnd *end);
QString RetakeCodeText(RetakeReason reason);
bool RetakeFromJson(const QJsonObject &o, Retake *retake);
QJsonObject RetakeJson(const Retake &r);

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
