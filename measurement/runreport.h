// A run's report for people: one HTML file that opens offline in any
// browser and prints on A4. Everything in it comes from the run's record
// (RecordedRun), the last measurement's traces and the limits judged; the
// plots are inline SVG (svgplot.h); no script, no font and no address of
// anything outside the file.
//
// Every figure taken from the record is marked with the record member it
// shows (data-record="statistics.src2Snk.mean"), so a script can check or
// pick out the figures of a report.
#pragma once

#include "measurement/limitverdict.h"
#include "measurement/recordedrun.h"
#include "measurement/tracefiles.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// The traces a report shows: the last kept measurement's.
struct ReportTraces
{
    int index = 0; // the measurement they are of; 0: none
    MeasurementTraces traces; // t in s, trigger at 0
    QString note;  // why there are none, or what is missing
};

// The last kept measurement's traces from the trace files the record names,
// in `folder` (the record's own): only plain file names are followed, and
// each file's size is bounded before it is read. Without them, the note
// says why.
ReportTraces RecordedLastTraces(const RecordedRun &run, const QString &folder);

struct ReportInput
{
    RecordedRun run;
    ReportTraces traces;
    QVector<LimitVerdict> limits;
    bool limitsJudged = false; // false: the report was made after the run, without limits
    QString source; // where the record was read from, for the reader; empty: from memory
};

QByteArray RunReportHtml(const ReportInput &input);

// Written atomically; empty when written, else the reason.
QString WriteRunReport(const QString &path, const ReportInput &input);

// A run in memory (the Statistics window's) as its record would give it,
// with its last traces: those given when they have samples, else read from
// the run's trace files. Without a stamp: the window keeps none.
ReportInput ReportOfRun(const RunRecord &run, const MeasurementTraces &last);
