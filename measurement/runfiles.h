// The files a run leaves when Save Data is on, and what could not be written.
#pragma once

#include "measurement/measrun.h"

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

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
    QString journalFile;  // the journal the run was written with
    QString journalError; // a line that could not be written, or the journal not removed

    bool ok() const
    {
        return resultsError.isEmpty() && traceFailed == 0 && csvError.isEmpty() && recordError.isEmpty()
               && journalError.isEmpty();
    }
    // One message per kind of failure, naming the file or folder and the
    // system's reason; empty when everything was written.
    QStringList problems() const;
};

// Written under a temporary name and renamed when complete (QSaveFile):
// never half a file. False with the reason when it could not be.
bool WriteAtomically(const QString &path, const QByteArray &bytes, QString *error);
// The same with the content written by `write` as it goes (false: failed).
bool WriteAtomically(const QString &path, const std::function<bool(QIODevice *)> &write, QString *error);

// A whole run's files at once, as a run writes them while it goes
// (RunWriter): each kept measurement's three trace files under its own
// index when withTraces (the traces found in each measurement), the delay
// table, then the results file and the run's JSON record. A results file
// that cannot be written means no record either, as it always has.
RunFilesReport WriteRunFiles(const QString &dataDir, const QString &stamp, const RunOutcome &outcome,
                             bool withTraces);
