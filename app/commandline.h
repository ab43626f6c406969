// The program's command line: which mode it asks for and with what. Plain
// functions, so every form an operator or a CI script types can be checked
// without starting anything.
#pragma once

#include "app/findinstruments.h"
#include "measurement/delaypaths.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QVector>

// What the headless modes return to the shell; --help lists them.
enum ExitStatus {
    ExitDone = 0,
    ExitUsage = 1,       // the command line, the settings file named on it or the calibration is wrong
    ExitFailure = 2,     // a set-up, an instrument, or a file that could not be read or written
    ExitLimit = 3,       // a --limit was exceeded
    ExitIncomplete = 4,  // the run stopped before N measurements
    ExitInconclusive = 5, // --guarded: a limit lies within a figure's uncertainty
    ExitInterrupted = 130, // SIGINT or SIGTERM, as a shell reports a process ended by Ctrl-C
};

enum class LimitFigure { Mean, Median, P95, Max };

// "p95:src2snk<=160": the figure of one path must not exceed maxMs.
struct Limit
{
    LimitFigure figure = LimitFigure::Mean;
    DelayPath path = DelayPath::Src2Snk;
    double maxMs = 0.0;
    QString text; // as given on the command line, for the JUnit file
};

struct CommandLine
{
    enum class Mode { Window, Help, Version, Measure, Compare, Calibrate, Discover, Report, Recover };
    Mode mode = Mode::Window;

    int count = 0;        // --measure N, --calibrate N
    QString settingsFile; // empty: the window's own settings file
    QString outDir;       // empty: where the window writes
    QString label;
    bool noTraces = false;
    QVector<Limit> limits;
    bool guarded = false; // --guarded: a limit counts only beyond the figure's uncertainty
    // --calibration FILE: the calibration a run applies; with --calibrate,
    // the file it writes (its other paths kept).
    QString calibrationFile;
    DelayPath calibratePath = DelayPath::Src2Rf; // --path
    double referenceMs = 0.0;                    // --reference-ms: the reference set-up's true delay

    QString compareA, compareB; // --compare A.json B.json
    QString plotFile;           // --plot FILE.png (.jpg, .svg, .pdf)

    FindRequest discover; // --discover (app/discover.h)

    QString reportFile; // --report FILE.html: the run's report, with --measure, --calibrate or --from
    QString fromRecord; // --from RUN.json: the report of a run already recorded
    QString junitFile;  // --junit FILE.xml: the limits as JUnit test cases, with --measure
    QString recoverDir;   // --recover DIR
};

// True when the arguments (argv[0] first) are for the command line rather
// than the window: anything but Qt's own options for a window (-platform,
// -style, -reverse, ... with their values, single dash, as listed in
// QtWindowOptions). So a stray word or an unknown option ("-v", "run.json",
// "--mesure") is a usage error, never a window opened by mistake.
bool WantsCommandLine(const QStringList &args);

// Why the window cannot open here ("no display: DISPLAY is not set ..."),
// or empty: Qt would otherwise abort. Looks at the arguments (argv[0]
// first; a -platform of one's own is trusted) and the environment's
// QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY.
QString WindowCannotOpen(const QStringList &args, const QProcessEnvironment &env);

// Parses the arguments (argv[0] first). False with a one-line reason in
// *error for anything it does not understand; values may also be given as
// "--option=value".
bool ParseCommandLine(const QStringList &args, CommandLine *cl, QString *error);

// "[figure:]path<=ms"; path src2rf, src2hd or src2snk, figure mean (the
// default), median, p95 or max; both case-insensitive.
bool ParseLimit(const QString &text, Limit *limit, QString *error);

// "Source->Sink mean", "Source->RF p95": how a limit is named in messages.
QString LimitName(const Limit &limit);

// The text of --help, program being the name the operator typed.
QString UsageText(const QString &program);

// The stamp part of the file names with the label in it:
// "2026-03-01_14-05-09_" and "nightly 7" give "2026-03-01_14-05-09_nightly-7_".
// Only ASCII letters, digits, '-', '_' and '.' are kept (anything else,
// accented letters and spaces included, becomes '-', so a label can never
// name another folder), at most 64 of them; the run record keeps it whole.
QString LabeledStamp(const QString &stamp, const QString &label);
