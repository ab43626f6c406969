// The report and the JUnit file of a headless run (--report, --junit), and
// the report of a run already recorded (--report --from).
#pragma once

#include "app/commandline.h"
#include "app/runlimits.h"
#include "measurement/limitverdict.h"
#include "measurement/measrun.h"
#include "measurement/runfiles.h"

#include <QString>
#include <QStringList>
#include <QVector>

// A judged limit as the report and the JUnit file give it.
LimitVerdict VerdictOf(const LimitCheck &check);

// After a run: the report from the run's record as written (or, where the
// record could not be written, as it would have been) with the last traces
// from memory, and the JUnit file of the limits. Appends a line per file
// written to *out and the reason for each one not written to *problems;
// false when one was not written.
bool WriteRunReports(const CommandLine &cl, const RunOutcome &outcome, const QString &stamp,
                     const RunFilesReport &written, const QVector<LimitCheck> &checks, QString *out,
                     QStringList *problems);

// --junit when the command ended with `status` before any limit could be
// judged: each limit an error saying so. Empty when written, else the reason.
QString WriteUnjudgedJUnit(const CommandLine &cl, int status);

// --report FILE.html --from RUN.json; the exit status.
int ReportFromRecord(const CommandLine &cl);
