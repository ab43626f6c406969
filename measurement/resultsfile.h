// The run's results text and the names of the files a run writes.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

// Six lines: each list of delays, then its mean. Numbers as 'g' with 6
// significant digits, NaN as "nan"; the text ends with the last digit,
// no final line feed.
QByteArray ResultsText(const QVector<double> &src2Rf, double avgSrc2Rf,
                       const QVector<double> &src2Hd, double avgSrc2Hd,
                       const QVector<double> &src2Snk, double avgSrc2Snk);

// One stamp per run, e.g. "2026-03-01_14-05-09_".
QString RunStamp(const QDateTime &when);

// dataDir is used as it stands, with no separator before the stamp: the
// files lie next to the data directory and start with its last component.
QString ResultsFileName(const QString &dataDir, const QString &stamp);

// Next to the results file, with the same stamp: the run's record and its
// spreadsheet table.
QString RunRecordFileName(const QString &dataDir, const QString &stamp);
QString DelaysCsvFileName(const QString &dataDir, const QString &stamp);

enum class TraceKind { Source, Rf, Sink };
constexpr TraceKind TraceKinds[] = {TraceKind::Source, TraceKind::Rf, TraceKind::Sink};

// A measurement's flag for one of its trace files (Measurement::traceFiles).
constexpr quint8 TraceFileBit(TraceKind kind)
{
    return quint8(1u << int(kind));
}

// k counts from 1, padded to at least three digits: 001, ..., 999, 1000.
QString TraceFileName(const QString &dataDir, const QString &stamp, int k, TraceKind kind);
