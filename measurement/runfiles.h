// The files a run leaves when Save Data is on, and what could not be written.
#pragma once

#include "measurement/measrun.h"

#include <QString>
#include <QStringList>
#include <QVector>

// Writes `count` samples of d as a trace file. Returns 0, or -1 with the
// system's reason in *error when the file could not be written in full.
int SaveTraceFile(const QString &fnam, const QVector<double> &d, int count, QString *error = nullptr);

struct RunFilesReport
{
    QString resultsFile;
    QString resultsError; // empty when the results file was written
    int traceFiles = 0;   // trace files attempted
    int traceFailed = 0;  // of those, not written
    QString traceFolder;  // where they go
    QString traceError;   // the first failure's reason
    // Per measurement: its source, RF and sink trace files, full paths,
    // empty where one was not written; empty without trace files.
    QVector<QStringList> tracePaths;
    QString csvFile;      // the run's delay table
    QString csvError;     // empty when it was written
    QString recordFile;   // the run's JSON record
    QString recordError;  // empty when it was written

    bool ok() const
    {
        return resultsError.isEmpty() && traceFailed == 0 && csvError.isEmpty() && recordError.isEmpty();
    }
    // One message per kind of failure, naming the file or folder and the
    // system's reason; empty when everything was written.
    QStringList problems() const;
};

// The results file (atomically), then each kept measurement's three trace
// files under its own index when withTraces, then the delay table and the
// run's JSON record (each atomically; the record names the files written).
// A results file that cannot be written means no other file either, as it
// always has.
RunFilesReport WriteRunFiles(const QString &dataDir, const QString &stamp, const RunOutcome &outcome,
                             bool withTraces);
