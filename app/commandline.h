// The program's command line: which mode it asks for and with what. Plain
// functions, so every form an operator or a CI script types can be checked
// without starting anything.
#pragma once

#include "app/findinstruments.h"

#include <QString>
#include <QStringList>
#include <QVector>

// What the headless modes return to the shell; --help lists them.
enum ExitStatus {
    ExitDone = 0,
    ExitUsage = 1,       // the command line or the settings file named on it is wrong
    ExitFailure = 2,     // a set-up, an instrument, or a file that could not be read or written
    ExitLimit = 3,       // a --limit was exceeded
    ExitIncomplete = 4,  // the run stopped before N measurements
    ExitInterrupted = 130, // SIGINT or SIGTERM, as a shell reports a process ended by Ctrl-C
};

enum class LimitPath { Src2Rf, Src2Hd, Src2Snk };
enum class LimitFigure { Mean, Median, P95, Max };

// "p95:src2snk<=160": the figure of one path must not exceed maxMs.
struct Limit
{
    LimitFigure figure = LimitFigure::Mean;
    LimitPath path = LimitPath::Src2Snk;
    double maxMs = 0.0;
};

struct CommandLine
{
    enum class Mode { Window, Help, Version, Measure, Compare, Discover };
    Mode mode = Mode::Window;

    int count = 0;        // --measure N
    QString settingsFile; // empty: the window's own settings file
    QString outDir;       // empty: where the window writes
    QString label;
    bool noTraces = false;
    QVector<Limit> limits;

    QString compareA, compareB; // --compare A.json B.json
    QString plotFile;           // --plot FILE.png

    FindRequest discover; // --discover (app/discover.h)
};

// True when the arguments (argv[0] first) ask for a headless mode: any
// argument that starts with "--", or "-h". The window keeps Qt's own
// single-dash options (-platform, -style); a mistyped long option then
// gives a usage error instead of opening a window on a machine without one.
bool WantsCommandLine(const QStringList &args);

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
// Only letters, digits, '-', '_' and '.' are kept (anything else becomes
// '-', so a label can never name another folder), at most 64 of them.
QString LabeledStamp(const QString &stamp, const QString &label);
