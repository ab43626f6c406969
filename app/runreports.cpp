#include "app/runreports.h"

#include "measurement/junitxml.h"
#include "measurement/runjson.h"
#include "measurement/runreport.h"
#include "measurement/runstats.h"
#include "measurement/tracefiles.h"
#include "shared/version.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {

// The names the record gives the files a run wrote, from what was written.
RunFileNames NamesOf(const RunFilesReport &written, const RunRecord &run)
{
    RunFileNames names;
    if (written.resultsError.isEmpty())
        names.results = QFileInfo(written.resultsFile).fileName();
    if (!written.csvFile.isEmpty() && written.csvError.isEmpty())
        names.csv = QFileInfo(written.csvFile).fileName();
    // A run written as it went names its trace files by its own flags.
    const bool traced = written.tracePaths.isEmpty() && RunWroteTraceFiles(run);
    for (int k = 1; k <= (traced ? run.measurements.size() : written.tracePaths.size()); ++k) {
        QStringList files;
        for (const QString &path : traced ? MeasurementTracePaths(run, k) : written.tracePaths[k - 1])
            files << (path.isEmpty() ? QString() : QFileInfo(path).fileName());
        names.traces << files;
    }
    return names;
}

QString Why(int status)
{
    switch (status) {
    case ExitUsage:
        return QStringLiteral("the command line, the settings file or the calibration is wrong (exit status 1)");
    case ExitInterrupted:
        return QStringLiteral("interrupted before the run (exit status 130)");
    default:
        return QStringLiteral("the instruments could not be set up, or a file could not be read or written "
                              "(exit status %1)")
            .arg(status);
    }
}

JUnitRun SuiteOf(const CommandLine &cl)
{
    JUnitRun suite;
    // A CI server keeps a suite's history by its name: the label, not the stamp.
    suite.suite = cl.label.isEmpty() ? ToolName() : cl.label;
    suite.properties.append({QStringLiteral("tool"), ToolName() + QLatin1Char(' ') + ToolVersion()});
    suite.properties.append({QStringLiteral("guarded"), cl.guarded ? QStringLiteral("yes") : QStringLiteral("no")});
    for (const Limit &limit : cl.limits) {
        LimitVerdict v;
        v.typed = limit.text;
        v.figure = LimitName(limit);
        v.limitMs = limit.maxMs;
        v.guarded = cl.guarded;
        suite.limits.append(v);
    }
    return suite;
}

} // namespace

LimitVerdict VerdictOf(const LimitCheck &check)
{
    LimitVerdict v;
    v.typed = check.limit.text.isEmpty() ? LimitName(check.limit) : check.limit.text;
    v.figure = LimitName(check.limit);
    v.outcome = check.exceeded       ? LimitOutcome::Exceeded
                : check.inconclusive ? LimitOutcome::Inconclusive
                                     : LimitOutcome::Met;
    v.text = LimitCheckText(check);
    v.valueMs = check.value;
    v.limitMs = check.limit.maxMs;
    v.guarded = check.guarded;
    v.uncertaintyMs = check.uncertainty;
    return v;
}

bool WriteRunReports(const CommandLine &cl, const RunOutcome &outcome, const QString &stamp,
                     const RunFilesReport &written, const QVector<LimitCheck> &checks, QString *out,
                     QStringList *problems)
{
    const RunRecord &run = outcome.record;
    QVector<LimitVerdict> verdicts;
    for (const LimitCheck &check : checks)
        verdicts.append(VerdictOf(check));
    bool ok = true;

    if (!cl.reportFile.isEmpty()) {
        // The record is the report's source: the file as written, so that
        // the report says what the record says.
        ReportInput input;
        QString why;
        const bool stored = !written.recordFile.isEmpty() && written.recordError.isEmpty()
                            && ReadRecordedRun(written.recordFile, &input.run, &why);
        if (stored)
            input.source = QFileInfo(written.recordFile).fileName();
        else
            ParseRecordedRun(RunRecordJson(run, ComputeRunStats(run), stamp, NamesOf(written, run)), &input.run, &why);
        if (!run.measurements.isEmpty() && !outcome.last.src.isEmpty()) {
            input.traces.index = run.measurements.last().index;
            input.traces.traces.t = outcome.t;
            input.traces.traces.traces = outcome.last;
        } else {
            input.traces = RecordedLastTraces(input.run, written.traceFolder);
        }
        input.limits = verdicts;
        input.limitsJudged = true;
        const QString error = WriteRunReport(cl.reportFile, input);
        if (error.isEmpty()) {
            *out += QStringLiteral("Report: %1\n").arg(QDir::toNativeSeparators(cl.reportFile));
        } else {
            *problems << QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(cl.reportFile), error);
            ok = false;
        }
    }

    if (!cl.junitFile.isEmpty()) {
        JUnitRun suite = SuiteOf(cl);
        suite.limits = verdicts;
        suite.started = RunRecordTime(run.started);
        suite.seconds = run.started.isValid() && run.ended.isValid() ? run.started.msecsTo(run.ended) / 1000.0 : 0.0;
        suite.properties.append({QStringLiteral("stamp"), stamp});
        if (!written.recordFile.isEmpty() && written.recordError.isEmpty())
            suite.properties.append({QStringLiteral("record"), QFileInfo(written.recordFile).fileName()});
        suite.output = RunSummary(run) + QLatin1Char('\n');
        for (const LimitVerdict &v : verdicts)
            suite.output += QStringLiteral("Limit: %1\n").arg(v.text);
        const QString error = WriteJUnitFile(cl.junitFile, suite);
        if (error.isEmpty()) {
            *out += QStringLiteral("JUnit: %1\n").arg(QDir::toNativeSeparators(cl.junitFile));
        } else {
            *problems << QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(cl.junitFile), error);
            ok = false;
        }
    }
    return ok;
}

QString WriteUnjudgedJUnit(const CommandLine &cl, int status)
{
    JUnitRun suite = SuiteOf(cl);
    suite.notJudged = Why(status);
    return WriteJUnitFile(cl.junitFile, suite);
}

int ReportFromRecord(const CommandLine &cl)
{
    ReportInput input;
    QString error;
    if (!ReadRecordedRun(cl.fromRecord, &input.run, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return ExitFailure;
    }
    input.source = QFileInfo(cl.fromRecord).fileName();
    input.traces = RecordedLastTraces(input.run, QFileInfo(cl.fromRecord).absolutePath());
    error = WriteRunReport(cl.reportFile, input);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "Could not write %s: %s\n", qPrintable(QDir::toNativeSeparators(cl.reportFile)),
                     qPrintable(error));
        return ExitFailure;
    }
    if (!input.traces.note.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(input.traces.note));
    std::printf("Report: %s\n", qPrintable(QDir::toNativeSeparators(cl.reportFile)));
    return ExitDone;
}
