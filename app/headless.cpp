#include "app/headless.h"

#include "app/calibrationstore.h"
#include "app/commandline.h"
#include "app/comparerun.h"
#include "app/datapaths.h"
#include "app/discover.h"
#include "app/progresslines.h"
#include "app/runlimits.h"
#include "app/runreports.h"
#include "app/scpiconsole.h"
#include "app/settingsfile.h"
#include "app/statstable.h"
#include "app/stopsignal.h"
#include "instruments/instrumentsetup.h"
#include "instruments/setupsequence.h"
#include "instruments/visasession.h"
#include "measurement/measrun.h"
#include "measurement/resultsfile.h"
#include "measurement/runfiles.h"
#include "measurement/runrecovery.h"
#include "measurement/runwriter.h"
#include "measurement/runstats.h"
#include "measurement/uncertainty.h"
#include "measurement/uncertaintytext.h"
#include "shared/measstate.h"
#include "shared/typednumber.h"
#include "shared/version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

void Print(std::FILE *to, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

// A settings value as the window holds it after loading the file: shown in
// its field with 6 digits and read back from there by the set-up.
double AsInField(double value)
{
    return SetupValue(FieldNumber(value));
}

// The sessions of one headless run, closed on every way out.
struct Sessions
{
    ViSession rm = 0, os = 0, sa = 0, va = 0;

    ~Sessions()
    {
        for (ViSession vi : {os, sa, va})
            if (vi != 0)
                VisaClose(vi);
        if (rm != 0)
            VisaClose(rm);
    }
};

QString SignalName(int signal)
{
    return signal == SIGTERM ? QStringLiteral("SIGTERM") : QStringLiteral("SIGINT");
}

// A calibrating run's offset for its path: the fine mean less the
// reference's delay, with the fine mean's standard uncertainty. The file's
// other entries stay. False with the reason in *text when nothing could be
// written; *text says what was.
bool WriteCalibrationFromRun(const CommandLine &cl, const RunRecord &run, Calibration calibration, QString *text)
{
    const DelayPathInfo &path = PathInfo(cl.calibratePath);
    const MeanUncertainty u = PathUncertainty(run, cl.calibratePath);
    if (u.n == 0 || !std::isfinite(u.combined)) {
        *text = QStringLiteral("Calibration not written: no %1 delay was measured\n").arg(QLatin1String(path.label));
        return false;
    }
    const QDateTime now = QDateTime::currentDateTime();
    calibration.loaded = true;
    if (calibration.name.isEmpty())
        calibration.name = QStringLiteral("Reference set-up");
    calibration.date = now.date().toString(Qt::ISODate);
    PathCalibration &entry = calibration.of(cl.calibratePath);
    entry.set = true;
    entry.offsetMs = u.fineMean - cl.referenceMs;
    // What the mean itself is known to: scatter, interpolation, time base.
    entry.uncertaintyMs = std::sqrt(u.statistical * u.statistical + u.interpolation * u.interpolation
                                    + u.timeBase * u.timeBase);
    entry.note = QStringLiteral("%1: mean fine delay of %2 measurements %3 ms less the reference %4 ms%5")
                     .arg(now.toString(Qt::ISODate))
                     .arg(u.n)
                     .arg(QString::number(u.fineMean, 'f', 6), QString::number(cl.referenceMs, 'g', 6),
                          run.label.isEmpty() ? QString() : QStringLiteral(", run %1").arg(run.label));
    const QString error = WriteCalibrationFile(cl.calibrationFile, calibration);
    if (!error.isEmpty()) {
        *text = QStringLiteral("Could not write %1: %2\n").arg(QDir::toNativeSeparators(cl.calibrationFile), error);
        return false;
    }
    *text = QStringLiteral("Calibration: %1 offset %2 ms, standard uncertainty %3 ms, written to %4\n")
                .arg(QLatin1String(path.label), UncertaintyNumber(entry.offsetMs),
                     UncertaintyBound(entry.uncertaintyMs), QDir::toNativeSeparators(cl.calibrationFile));
    return true;
}

// *judged: the run took place and its limits were judged (the JUnit file
// says so, or else why not).
int Measure(const CommandLine &cl, bool *judged)
{
    const QString userDataDir = UserDataDir();
    QString settingsFile = cl.settingsFile;
    if (settingsFile.isEmpty()) {
        settingsFile = CfgFilePath(userDataDir, AppNameFromPath(QCoreApplication::applicationFilePath()));
    } else if (!QFileInfo(settingsFile).isFile() || !QFileInfo(settingsFile).isReadable()) {
        // The window's own file may be missing (defaults apply); a named one must be there.
        Print(stderr, QStringLiteral("Cannot read the settings file %1\n").arg(settingsFile));
        return ExitUsage;
    }
    const BenchSettings settings = ReadBenchSettings(settingsFile);
    for (const Limit &limit : cl.limits)
        if (limit.path == DelayPath::Src2Hd && !settings.hdmi) {
            Print(stderr, QStringLiteral("A limit on src2hd needs the HDMI delay, which %1 has switched off\n")
                              .arg(settingsFile));
            return ExitUsage;
        }

    // The calibration to take off the fine delays, checked before any
    // instrument is touched. A calibrating run applies none: it measures
    // the fine delays the offset comes from; its file is only read for what
    // to keep.
    Calibration calibration;
    QString calibrationError;
    const bool calibrating = cl.mode == CommandLine::Mode::Calibrate;
    const QString calibrationSource =
        cl.calibrationFile.isEmpty() ? RememberedCalibrationFile(settingsFile) : cl.calibrationFile;
    bool readable = true;
    if (cl.calibrationFile.isEmpty())
        readable = LoadRememberedCalibration(settingsFile, &calibration, &calibrationError);
    else if (!calibrating || QFileInfo::exists(cl.calibrationFile)) // calibrating may start a new file
        readable = ReadCalibrationFile(cl.calibrationFile, &calibration, &calibrationError);
    if (!readable) {
        Print(stderr, QStringLiteral("Cannot use the calibration: %1\n").arg(calibrationError));
        return ExitUsage;
    }
    Calibration applied = calibration;
    if (calibrating) {
        applied = Calibration();
        applied.timeBasePpm = calibration.timeBasePpm;
    }

    // Before any instrument is touched: a folder that takes no files would
    // lose the whole run.
    const QString dataDir = cl.outDir.isEmpty() ? userDataDir : OutDataDir(cl.outDir, userDataDir);
    const QString folder = QFileInfo(ResultsFileName(dataDir, QString())).absolutePath();
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isWritable()) {
        Print(stderr, QStringLiteral("Cannot write into %1\n").arg(QDir::toNativeSeparators(folder)));
        return ExitFailure;
    }

    // Runs that never finished here are named: --recover finishes them.
    const QStringList unfinished = UnfinishedRuns(folder);
    for (const QString &journal : unfinished)
        Print(stderr, QStringLiteral("Unfinished run: %1\n").arg(QDir::toNativeSeparators(journal)));
    if (!unfinished.isEmpty())
        Print(stderr, QStringLiteral("\"%1 --recover %2\" finishes %3.\n")
                          .arg(QFileInfo(QCoreApplication::applicationFilePath()).fileName(),
                               QDir::toNativeSeparators(folder), unfinished.size() == 1 ? "it" : "them"));

    // Blocks are spooled through a file of this process's own: two runs in
    // one working folder must not share one.
    QTemporaryFile spool(QDir::temp().filePath(QStringLiteral("QuenviaCodecTiming-XXXXXX.tmp")));
    if (!spool.open()) {
        Print(stderr, QStringLiteral("Cannot create a spool file in %1: %2\n")
                          .arg(QDir::toNativeSeparators(QDir::tempPath()), spool.errorString()));
        return ExitFailure;
    }
    spool.close();

    InstallStopSignals();
    SetUnwrittenNote(QStringLiteral("Second interrupt: ended at once during the set-up; nothing was measured and no "
                                    "file was written."));
    Sessions s;
    if (VisaOpenDefaultRM(s.rm) != VI_SUCCESS) {
        Print(stderr, QStringLiteral("VISA resource manager not available\n"));
        return ExitFailure;
    }

    // The requests the Init buttons build from the window's fields.
    // As the Type box would show it: an unknown stored index leaves it
    // without a current item (-1), which counts as Benlo.
    const int osTypIdx = OscTypeIndex(settings.osType);
    const OscType &type = OscTypeOf(osTypIdx);
    OscSetupRequest osc;
    osc.resource = settings.osIp;
    osc.reset = settings.osReset;
    osc.trgLevel = AsInField(settings.trgLevel);
    osc.ifDemod = settings.ifDemod;
    osc.type = &type;
    SaSetupRequest sa;
    sa.resource = settings.saIp;
    sa.reset = settings.saReset;
    sa.centerFreq = AsInField(settings.centerFreq);
    sa.type = &type;
    VaSetupRequest va;
    va.resource = settings.vaIp;
    va.reset = settings.vaReset;
    va.threshold = AsInField(settings.threshold);

    auto setUp = [](const QString &name, const SetupOutcome &outcome) {
        Print(stderr, SetupOutcomeText(name, outcome) + QLatin1Char('\n'));
        return outcome.ready();
    };
    // In the order of the buttons; a failed set-up ends the run there.
    if (!setUp(QStringLiteral("Oscilloscope"), SetUpOscilloscope(s.rm, s.os, osc)))
        return ExitFailure;
    if (StopSignal())
        return ExitInterrupted;
    const SetupOutcome analyzer = SetUpAnalyzer(s.rm, s.sa, sa);
    if (!setUp(QStringLiteral("Spectrum analyzer"), analyzer))
        return ExitFailure;
    if (StopSignal())
        return ExitInterrupted;
    if (settings.hdmi && !setUp(QStringLiteral("Video analyzer"), SetUpVideoAnalyzer(s.rm, s.va, va)))
        return ExitFailure;
    if (StopSignal())
        return ExitInterrupted;

    Print(stderr, QStringLiteral("Calibration: %1%2\n")
                      .arg(CalibrationSummary(applied),
                           applied.loaded ? QStringLiteral(" (%1)").arg(QDir::toNativeSeparators(calibrationSource))
                                          : QString()));

    // Files are written whatever the settings' Save Data says: that is what
    // the command line is for.
    RunRecord head;
    head.settings = SettingsUsed(osc, sa, va, osTypIdx, settings.ifDemod, settings.hdmi, true);
    head.saIdentity = analyzer.identity;
    head.label = cl.label;
    head.calibration = applied;
    head.requested = cl.count;
    head.started = QDateTime::currentDateTime();
    // Each measurement is on disk as it is taken; a run killed on the way
    // leaves a journal that --recover finishes.
    RunWriter writer;
    if (!writer.begin(dataDir, LabeledStamp(QString(), cl.label), head, !cl.noTraces)) {
        Print(stderr, writer.error() + QLatin1Char('\n'));
        return ExitFailure;
    }

    RunRequest request;
    request.count = cl.count;
    request.type = &type;
    request.ifDemod = settings.ifDemod;
    request.measHdmi = settings.hdmi;
    request.osHdl = s.os;
    request.saHdl = s.sa;
    request.vaHdl = s.va;
    request.started = head.started;
    request.spoolFile = spool.fileName();

    ProgressLines progress(stderr, isatty(STDERR_FILENO) == 1, cl.count);
    const QString where = QDir::toNativeSeparators(folder);
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    auto unwritten = [&where, &program](int kept) {
        SetUnwrittenNote(QStringLiteral("Second interrupt: ended at once. %1 kept so far %2 on disk in %3, but not "
                                        "the results file and run record, and the instruments were not put back "
                                        "into free run; \"%4 --recover %3\" finishes the run.")
                             .arg(kept == 1 ? QStringLiteral("The 1 measurement") : QStringLiteral("The %1 measurements").arg(kept))
                             .arg(kept == 1 ? QStringLiteral("is") : QStringLiteral("are"))
                             .arg(where, program));
    };
    unwritten(0);
    int noted = 0;
    RunCallbacks callbacks;
    callbacks.acquiring = [&progress, &unwritten, &noted](int index, const RunRecord &sofar) {
        if (sofar.measurements.size() != noted)
            unwritten(noted = sofar.measurements.size());
        progress.acquiring(index, sofar);
    };
    callbacks.stopRequested = [] { return StopSignal() != 0; };
    callbacks.kept = [&writer](Measurement &m, const KeptTraces &traces) { writer.kept(m, traces); };
    callbacks.retaken = [&writer](const Retake &retake) { writer.retaken(retake); };
    RunOutcome outcome = RunMeasurements(request, callbacks);
    RunRecord &run = outcome.record;
    progress.finish(run);

    const int signal = StopSignal();
    if (signal != 0 && run.end == RunEnd::Canceled) {
        run.end = RunEnd::Interrupted;
        run.endReason = QStringLiteral("interrupted by %1").arg(SignalName(signal));
    }
    run.settings = head.settings;
    run.saIdentity = head.saIdentity;
    run.label = head.label;
    run.calibration = head.calibration;
    run.filesAt = writer.filesAt();
    PublishRun(outcome);

    SetUnwrittenNote(QStringLiteral("Second interrupt: ended at once while the run's results file and record were "
                                    "being written in %1 (each is there whole or not at all); \"%2 --recover %1\" "
                                    "finishes them.")
                         .arg(where, program));
    const RunFilesReport written = writer.finish(outcome);
    SetUnwrittenNote(QStringLiteral("Second interrupt: ended at once; the run's files had been written."));
    for (const QString &problem : written.problems())
        Print(stderr, problem + QLatin1Char('\n'));

    QString out = RunSummary(run) + QLatin1Char('\n');
    if (written.resultsError.isEmpty())
        out += QStringLiteral("Results: %1\n").arg(QDir::toNativeSeparators(written.resultsFile));
    if (!written.csvFile.isEmpty() && written.csvError.isEmpty())
        out += QStringLiteral("Delay table: %1\n").arg(QDir::toNativeSeparators(written.csvFile));
    if (!written.recordFile.isEmpty() && written.recordError.isEmpty())
        out += QStringLiteral("Run record: %1\n").arg(QDir::toNativeSeparators(written.recordFile));
    const RunStats stats = ComputeRunStats(run);
    out += QLatin1Char('\n') + RunStatsTable(stats);
    out += QLatin1Char('\n') + UncertaintyTable(run);
    bool exceeded = false;
    bool inconclusive = false;
    if (!cl.limits.isEmpty())
        out += QLatin1Char('\n');
    QVector<LimitCheck> checks;
    for (const Limit &limit : cl.limits) {
        const LimitCheck check = cl.guarded ? CheckGuardedLimit(limit, run) : CheckLimit(limit, stats);
        checks.append(check);
        exceeded = exceeded || check.exceeded;
        inconclusive = inconclusive || check.inconclusive;
        out += QStringLiteral("Limit: %1\n").arg(LimitCheckText(check));
    }
    // Only a whole calibrating run says what the bench adds.
    bool calibrationFailed = false;
    if (calibrating && signal == 0 && run.end == RunEnd::Completed) {
        QString written;
        calibrationFailed = !WriteCalibrationFromRun(cl, run, calibration, &written);
        out += QLatin1Char('\n') + written;
    }
    *judged = true;
    QStringList unreported;
    const bool reported = WriteRunReports(cl, outcome, writer.stamp(), written, checks, &out, &unreported);
    for (const QString &problem : unreported)
        Print(stderr, problem + QLatin1Char('\n'));
    Print(stdout, out);

    // The most serious outcome decides.
    if (signal != 0)
        return ExitInterrupted;
    if (run.end == RunEnd::ConnectionLost || !written.ok() || calibrationFailed || !reported)
        return ExitFailure;
    if (run.end != RunEnd::Completed)
        return ExitIncomplete;
    if (exceeded)
        return ExitLimit;
    return inconclusive ? ExitInconclusive : ExitDone;
}

// Finishes every unfinished run in a folder from its journal.
int Recover(const CommandLine &cl)
{
    const QFileInfo folder(cl.recoverDir);
    if (!folder.isDir() || !folder.isReadable()) {
        Print(stderr, QStringLiteral("Cannot read the folder %1\n").arg(QDir::toNativeSeparators(cl.recoverDir)));
        return ExitFailure;
    }
    const QVector<RecoveredRun> runs = RecoverRuns(folder.filePath());
    bool ok = true;
    for (const RecoveredRun &r : runs) {
        ok = ok && r.ok();
        Print(r.ok() ? stdout : stderr, RecoveredRunText(r) + QLatin1Char('\n'));
    }
    if (runs.isEmpty())
        Print(stdout, QStringLiteral("No unfinished run in %1\n").arg(QDir::toNativeSeparators(cl.recoverDir)));
    return ok ? ExitDone : ExitFailure;
}

} // namespace

int HeadlessMain(int argc, char *argv[])
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const QString program = QFileInfo(args.value(0, ToolName())).fileName();
    // The console's commands follow its options: it reads its own arguments.
    if (ScpiConsoleWanted(args))
        return ScpiConsoleMain(args);

    CommandLine cl;
    QString error;
    if (!ParseCommandLine(args, &cl, &error)) {
        Print(stderr, QStringLiteral("%1: %2\nTry \"%1 --help\".\n").arg(program, error));
        return ExitUsage;
    }
    switch (cl.mode) {
    case CommandLine::Mode::Help:
        Print(stdout, UsageText(program));
        return ExitDone;
    case CommandLine::Mode::Version:
        Print(stdout, QStringLiteral("%1 %2\n").arg(ToolName(), ToolVersion()));
        return ExitDone;
    case CommandLine::Mode::Measure:
    case CommandLine::Mode::Calibrate: {
        QCoreApplication app(argc, argv);
        bool judged = false;
        const int status = Measure(cl, &judged);
        if (!judged && !cl.junitFile.isEmpty()) {
            const QString error = WriteUnjudgedJUnit(cl, status);
            if (!error.isEmpty())
                Print(stderr, QStringLiteral("Could not write %1: %2\n").arg(QDir::toNativeSeparators(cl.junitFile), error));
        }
        return status;
    }
    case CommandLine::Mode::Report:
        return ReportFromRecord(cl);
    case CommandLine::Mode::Compare:
        return CompareRuns(cl, argc, argv);
    case CommandLine::Mode::Discover:
        return Discover(cl.discover);
    case CommandLine::Mode::Recover: {
        QCoreApplication app(argc, argv);
        return Recover(cl);
    }
    case CommandLine::Mode::Window:
        break;
    }
    return ExitUsage;
}
