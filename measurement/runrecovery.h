// Finishing runs the program never finished (a crash, a kill, a power cut,
// a closed lid): what their journals hold becomes their results file, delay
// table and run record, as if the run had ended where its journal ends.
#pragma once

#include "measurement/runfiles.h"
#include "measurement/runrecord.h"

#include <QString>
#include <QStringList>
#include <QVector>

struct RecoveredRun
{
    enum class State {
        Finished,        // its files are written (see files for any that could not be)
        Live,            // a running program holds the journal: nothing done
        AlreadyFinished, // its record was there; the journal was left over and is gone
        Empty,           // a run that ended as it started: nothing to finish, the journal is gone
        Unreadable,      // the journal does not describe a run (error says why); left as it is
    };
    State state = State::Unreadable;
    QString journal;     // the journal's path
    RunRecord run;       // what it held: measurements without traces
    RunFilesReport files; // what was written, and what could not be
    QString error;

    // Nothing for the operator to look into.
    bool ok() const { return state != State::Unreadable && files.ok(); }
};

// The journals in folder that no running program holds, by name; with a
// prefix, only those whose name starts with it (the window's own runs).
QStringList UnfinishedRuns(const QString &folder, const QString &prefix = QString());

// Finishes the run of one journal. Trace files that are missing or not as
// long as the journal says lose their name in the record (and are removed);
// so are trace files of a measurement the journal does not hold, and the
// temporary files of a write the program did not complete. The end is the
// journal's end line, or "interrupted" where the run never got there; the
// record says it was recovered. The journal goes once the record is written.
RecoveredRun RecoverRun(const QString &journalPath);

// RecoverRun for each of UnfinishedRuns(folder, prefix).
QVector<RecoveredRun> RecoverRuns(const QString &folder, const QString &prefix = QString());

// "Finished <results file> from its journal: Interrupted after 12 of 100
// measurements", or why it could not be: one line for the operator.
QString RecoveredRunText(const RecoveredRun &r);
