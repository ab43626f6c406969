// A run's files, written while the run goes: each kept measurement's three
// trace files, its row of the delay table and its line in the journal are
// handed to the system before the next acquisition starts, and on the disk
// within a second (FileSync). The results file and the run record need the
// whole run: finish() writes them at the end, from the journal, and then
// removes it. A run that never gets there is finished later from its
// journal (runrecovery.h).
//
// No file is ever overwritten: the run's stamp is claimed by creating its
// journal exclusively, the next second's stamp taken while one is in use,
// and every other file is created new.
#pragma once

#include "measurement/filesync.h"
#include "measurement/runfiles.h"

#include <QFile>
#include <QString>

#include <vector>

class RunWriter
{
public:
    // syncIntervalMs: how far the disk may lag behind (FileSync).
    explicit RunWriter(int syncIntervalMs = 1000);
    // Without finish() the journal stays, for recovery.
    ~RunWriter();

    // Claims the first free stamp from head.started on (RunStamp of that
    // second + labelPart, e.g. "" or "nightly-7_"), makes the folder with
    // its parents, and starts the journal with the run's set-up (settings,
    // label, requested, started, saIdentity of head) and the delay table
    // with its header row. False with the reason (error()) when that fails;
    // finish() then still tries the results file, under the first stamp.
    bool begin(const QString &dataDir, const QString &labelPart, const RunRecord &head, bool withTraces);
    // The same under this stamp only, which must be free.
    bool beginAt(const QString &dataDir, const QString &stamp, const RunRecord &head, bool withTraces);

    bool begun() const { return begun_; }
    QString error() const { return error_; }
    QString stamp() const { return stamp_; }
    // dataDir + stamp: what every file name of the run starts with.
    QString filesAt() const { return dataDir_ + stamp_; }
    QString journalFile() const;

    // The run's callbacks (RunCallbacks::retaken, ::kept). kept() writes the
    // trace files first and notes in m which ones were written, then the
    // table row, then the journal line: a line in the journal means its
    // files are there.
    void retaken(const Retake &r);
    void kept(Measurement &m, const KeptTraces &traces);

    // After the run: the journal's end line, then (once everything so far
    // is on the disk) the results file and the run record, atomically; then
    // the journal goes. A results file that cannot be written leaves the
    // journal, so that the run can be finished later.
    RunFilesReport finish(const RunOutcome &outcome);

private:
    enum class Claim { Taken, Claimed, Failed };
    Claim claim(const QString &stamp);
    void journal(const QByteArray &line);
    void release();

    QString dataDir_, stamp_, error_;
    Calibration calibration_; // the run's, for the corrected delays in its rows and lines
    bool begun_ = false;
    bool withTraces_ = false;
    QFile journal_, csv_;
    qint64 journalSize_ = 0;
    QString journalError_, csvError_;
    // Where each measurement's element lies in the journal: offset, length.
    std::vector<std::pair<qint64, int>> elements_;
    int traceFiles_ = 0, traceFailed_ = 0;
    QString traceError_;
    FileSync sync_;
};
