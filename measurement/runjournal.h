// A run's journal: one line of JSON for everything the run record needs,
// appended as it happens, so that a run the program never finished (a
// crash, a kill, a power cut) can still be finished from it. Its lines are
// described in docs/run-record.md; the run's writer (runwriter.h) writes
// them and recovery (runrecovery.h) reads them back.
#pragma once

#include "measurement/runrecord.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QVector>

#include <array>

// Next to the run's other files: dataDir + stamp + "Journal.jsonl".
QString RunJournalFileName(const QString &dataDir, const QString &stamp);
constexpr char RunJournalSuffix[] = "Journal.jsonl";

// A line that could not belong to any run is refused unread: longer than this.
constexpr int MaxJournalLine = 1 << 20;

// The lines, each ending in a line feed.
// First: what the run was set up with (RunHeadJson).
QByteArray JournalHeadLine(const RunRecord &run, const QString &stamp);
// An acquisition taken again.
QByteArray JournalRetakeLine(const Retake &r);
// A kept measurement: its element of the record's "measurements" as it
// stands (MeasurementElement), its sample count, its fine edges whole (the
// element has their times only; the uncertainties need the rest) and the
// sizes of the trace files written for it (-1 for one not written; none
// without trace files). *elementAt: where the element starts within the line.
QByteArray JournalMeasurementLine(const QByteArray &element, const Measurement &m, int samples,
                                  const std::array<qint64, 3> *traceBytes, int *elementAt);
// How the run ended, once the instruments were back in free run.
QByteArray JournalEndLine(const RunRecord &run);

// What a journal says, as far as its lines are whole.
struct RunJournal
{
    // Set-up, measurements (without traces; each one's traceFiles flags
    // for the files the journal names), retakes; how it ended and the time
    // axis, where the end line is there.
    RunRecord run;
    QString stamp;
    bool ended = false;      // the end line was there
    int unreadableLines = 0; // torn, cut, garbled, out of order or not this run's
    // Per measurement: the sizes its trace files had when written, -1 where
    // the journal gives none.
    QVector<std::array<qint64, 3>> traceBytes;
    int namedTraceFiles = 0; // trace file names given, including ones not this run's
    bool withTraces = false; // the run wrote trace files (its lines give their sizes)
};

// Reads the journal named journalName (without its folder: the stamp in its
// first line must end that name, just before "Journal.jsonl"). Lines that
// are not whole or do not fit are left out and counted; false, with the
// reason, only when the first line does not describe a run. Everything is
// bounded: lines by MaxJournalLine, measurements by the count the run asked
// for, retakes by MaxRejectedInARow per measurement.
bool ReadRunJournal(QIODevice *in, const QString &journalName, RunJournal *out, QString *error);

// The stamps a run can have: "2026-03-01_14-05-09_", optionally with a label
// part of letters, digits, '-', '_' and '.' ("2026-03-01_14-05-09_nightly-7_").
bool IsRunStamp(const QString &stamp);
