#include "app/headless.h"

#include "app/commandline.h"
#include "app/comparerun.h"
#include "app/datapaths.h"
#include "app/progresslines.h"
#include "app/runlimits.h"
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
#include "measurement/runstats.h"
#include "shared/measstate.h"
#include "shared/typednumber.h"
#include "shared/version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

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

// The window's type box has two entries; any other stored index leaves it
// without a current item.
int OsTypeIndex(int stored)
{
    return stored == 0 || stored == 1 ? stored : -1;
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

int Measure(const CommandLine &cl)
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
        if (limit.path == LimitPath::Src2Hd && !settings.hdmi) {
            Print(stderr, QStringLiteral("A limit on src2hd needs the HDMI delay, which %1 has switched off\n")
                              .arg(settingsFile));
            return ExitUsage;
        }

    // Before any instrument is touched: a folder that takes no files would
    // lose the whole run.
    const QString dataDir = cl.outDir.isEmpty() ? userDataDir : OutDataDir(cl.outDir, userDataDir);
    const QString folder = QFileInfo(ResultsFileName(dataDir, QString())).absolutePath();
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isWritable()) {
        Print(stderr, QStringLiteral("Cannot write into %1\n").arg(QDir::toNativeSeparators(folder)));
        return ExitFailure;
    }

    InstallStopSignals();
    Sessions s;
    if (VisaOpenDefaultRM(s.rm) != VI_SUCCESS) {
        Print(stderr, QStringLiteral("VISA resource manager not available\n"));
        return ExitFailure;
    }

    // The requests the Init buttons build from the window's fields.
    const int osTypIdx = OsTypeIndex(settings.osType);
    OscSetupRequest osc;
    osc.resource = settings.osIp;
    osc.reset = settings.osReset;
    osc.trgLevel = AsInField(settings.trgLevel);
    osc.ifDemod = settings.ifDemod;
    osc.osTypIdx = osTypIdx;
    SaSetupRequest sa;
    sa.resource = settings.saIp;
    sa.reset = settings.saReset;
    sa.centerFreq = AsInField(settings.centerFreq);
    sa.osTypIdx = osTypIdx;
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

    RunRequest request;
    request.count = cl.count;
    request.osTypIdx = osTypIdx;
    request.ifDemod = settings.ifDemod;
    request.measHdmi = settings.hdmi;
    request.osHdl = s.os;
    request.saHdl = s.sa;
    request.vaHdl = s.va;
    request.keepTraces = !cl.noTraces;

    ProgressLines progress(stderr, isatty(STDERR_FILENO) == 1, cl.count);
    RunCallbacks callbacks;
    callbacks.acquiring = [&progress](int index, const RunRecord &sofar) { progress.acquiring(index, sofar); };
    callbacks.stopRequested = [] { return StopSignal() != 0; };
    RunRecord run = RunMeasurements(request, callbacks);
    progress.finish(run);

    const int signal = StopSignal();
    if (signal != 0 && run.end == RunEnd::Canceled) {
        run.end = RunEnd::Interrupted;
        run.endReason = QStringLiteral("interrupted by %1").arg(SignalName(signal));
    }
    // Files are written whatever the settings' Save Data says: that is what
    // the command line is for.
    run.settings = SettingsUsed(osc, sa, va, osTypIdx, settings.ifDemod, settings.hdmi, true);
    run.saIdentity = analyzer.identity;
    run.label = cl.label;

    const QString stamp = LabeledStamp(RunStamp(QDateTime::currentDateTime()), cl.label);
    const RunFilesReport written = WriteRunFiles(dataDir, stamp, run, AvgSrc2Rf, AvgSrc2Hd, AvgSrc2Snk, !cl.noTraces);
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
    bool exceeded = false;
    if (!cl.limits.isEmpty())
        out += QLatin1Char('\n');
    for (const Limit &limit : cl.limits) {
        const LimitCheck check = CheckLimit(limit, stats);
        exceeded = exceeded || check.exceeded;
        out += QStringLiteral("Limit: %1\n").arg(LimitCheckText(check));
    }
    Print(stdout, out);

    // The most serious outcome decides.
    if (signal != 0)
        return ExitInterrupted;
    if (run.end == RunEnd::ConnectionLost || !written.ok())
        return ExitFailure;
    if (run.end != RunEnd::Completed)
        return ExitIncomplete;
    return exceeded ? ExitLimit : ExitDone;
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
    case CommandLine::Mode::Measure: {
        QCoreApplication app(argc, argv);
        return Measure(cl);
    }
    case CommandLine::Mode::Compare:
        return CompareRuns(cl, argc, argv);
    case CommandLine::Mode::Window:
        break;
    }
    return ExitUsage;
}
