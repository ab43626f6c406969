#include "app/commandline.h"

#include "app/discover.h"
#include "graph/plotimage.h"
#include "measurement/measrun.h"
#include "shared/typednumber.h"

#include <cmath>

namespace {

enum class Takes { Nothing, Value, TwoValues };

// Which mode an option belongs to.
enum class For {
    Any,
    Run,       // --measure or --calibrate
    Measure,   // --measure only
    Calibrate, // --calibrate only
    Compare,
    From, // --from: a report of a run already recorded
};

struct KnownOption
{
    const char *name;
    Takes takes;
    For mode;
};

const KnownOption Options[] = {
    {"--measure", Takes::Value, For::Measure},
    {"--calibrate", Takes::Value, For::Calibrate},
    {"--settings", Takes::Value, For::Run},
    {"--out", Takes::Value, For::Run},
    {"--label", Takes::Value, For::Run},
    {"--no-traces", Takes::Nothing, For::Run},
    {"--calibration", Takes::Value, For::Run},
    {"--limit", Takes::Value, For::Measure},
    {"--guarded", Takes::Nothing, For::Measure},
    {"--path", Takes::Value, For::Calibrate},
    {"--reference-ms", Takes::Value, For::Calibrate},
    {"--compare", Takes::TwoValues, For::Compare},
    {"--plot", Takes::Value, For::Compare},
    {"--report", Takes::Value, For::Any},
    {"--junit", Takes::Value, For::Measure},
    {"--from", Takes::Value, For::From},
    {"--help", Takes::Nothing, For::Any},
    {"--version", Takes::Nothing, For::Any},
    {"--recover", Takes::Value, For::Any},
};

const KnownOption *FindOption(const QString &name)
{
    for (const KnownOption &o : Options)
        if (name == QLatin1String(o.name))
            return &o;
    return nullptr;
}

// The options Qt's application objects take for a window (QGuiApplication,
// QApplication and the X11 platform), with one dash; "-style=fusion" gives
// a value in place.
struct QtOption
{
    const char *name;
    bool takesValue;
};

const QtOption QtWindowOptions[] = {
    {"-platform", true},      {"-platformpluginpath", true}, {"-platformtheme", true}, {"-plugin", true},
    {"-qwindowgeometry", true}, {"-qwindowicon", true},      {"-qwindowtitle", true},  {"-session", true},
    {"-display", true},       {"-geometry", true},           {"-style", true},         {"-stylesheet", true},
    {"-qmljsdebugger", true}, {"-reverse", false},           {"-widgetcount", false},
};

const QtOption *FindQtOption(const QString &arg)
{
    const QString name = arg.section(QLatin1Char('='), 0, 0);
    for (const QtOption &o : QtWindowOptions)
        if (name == QLatin1String(o.name))
            return &o;
    return nullptr;
}

// "report.HTML" has the suffix "html".
bool HasSuffix(const QString &file, std::initializer_list<const char *> suffixes)
{
    for (const char *suffix : suffixes)
        if (file.endsWith(QLatin1Char('.') + QLatin1String(suffix), Qt::CaseInsensitive))
            return true;
    return false;
}

struct FigureName
{
    const char *key;
    LimitFigure figure;
};

const FigureName Figures[] = {
    {"mean", LimitFigure::Mean},
    {"median", LimitFigure::Median},
    {"p95", LimitFigure::P95},
    {"max", LimitFigure::Max},
};

} // namespace

bool WantsCommandLine(const QStringList &args)
{
    for (int i = 1; i < args.size(); ++i) {
        const QtOption *qt = FindQtOption(args[i]);
        if (!qt)
            return true;
        if (qt->takesValue && !args[i].contains(QLatin1Char('=')) && ++i >= args.size())
            return true; // a value missing: Qt would take whatever follows
    }
    return false;
}

QString WindowCannotOpen(const QStringList &args, const QProcessEnvironment &env)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    for (const QString &arg : args)
        if (arg.section(QLatin1Char('='), 0, 0) == QLatin1String("-platform"))
            return QString();
    if (!env.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty() || !env.value(QStringLiteral("DISPLAY")).isEmpty()
        || !env.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty())
        return QString();
    return QStringLiteral("no display to open the window on (DISPLAY is not set); to measure without a window, "
                          "use --measure N");
#else
    Q_UNUSED(args);
    Q_UNUSED(env);
    return QString();
#endif
}

bool ParseLimit(const QString &text, Limit *limit, QString *error)
{
    const int le = text.indexOf(QLatin1String("<="));
    if (le < 0) {
        *error = QStringLiteral("limit \"%1\" has no \"<=\": write it as src2snk<=150 or p95:src2snk<=160").arg(text);
        return false;
    }
    QString path = text.left(le).trimmed().toLower();
    const QString number = text.mid(le + 2).trimmed();

    Limit out;
    const int colon = path.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        const QString figure = path.left(colon);
        path = path.mid(colon + 1);
        bool known = false;
        for (const FigureName &f : Figures)
            if (figure == QLatin1String(f.key)) {
                out.figure = f.figure;
                known = true;
            }
        if (!known) {
            *error = QStringLiteral("limit \"%1\": the figure is mean, median, p95 or max, not \"%2\"").arg(text, figure);
            return false;
        }
    }
    bool knownPath = false;
    for (const DelayPathInfo &p : DelayPaths)
        if (path == QString::fromLatin1(p.key).toLower()) {
            out.path = p.path;
            knownPath = true;
        }
    if (!knownPath) {
        *error = QStringLiteral("limit \"%1\": the path is src2rf, src2hd or src2snk, not \"%2\"").arg(text, path);
        return false;
    }
    bool ok = false;
    out.maxMs = TypedNumber(number, &ok);
    if (!ok || out.maxMs < 0) {
        *error = QStringLiteral("limit \"%1\": \"%2\" is no number of milliseconds").arg(text, number);
        return false;
    }
    out.text = text;
    *limit = out;
    return true;
}

QString LimitName(const Limit &limit)
{
    QString name = QLatin1String(PathInfo(limit.path).label);
    for (const FigureName &f : Figures)
        if (f.figure == limit.figure)
            name += QLatin1Char(' ') + QLatin1String(f.key);
    return name;
}

bool ParseCommandLine(const QStringList &args, CommandLine *cl, QString *error)
{
    CommandLine out;
    QStringList seen;
    // The first option given for each mode, for messages.
    QString firstOf[6];
    auto first = [&firstOf](For mode) -> QString & { return firstOf[int(mode)]; };

    // Asking for help is never a mistake, whatever else the line holds.
    for (int i = 1; i < args.size(); ++i)
        if (args[i] == QLatin1String("-h") || args[i] == QLatin1String("--help")) {
            out.mode = CommandLine::Mode::Help;
            *cl = out;
            return true;
        }
    // Hosts follow --discover as plain arguments: a parser of its own.
    if (WantsDiscover(args)) {
        out.mode = CommandLine::Mode::Discover;
        if (!ParseDiscoverArgs(args, &out.discover, error))
            return false;
        *cl = out;
        return true;
    }

    for (int i = 1; i < args.size(); ++i) {
        const QString arg = args[i];
        if (!arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            *error = QStringLiteral("unexpected argument \"%1\"").arg(arg);
            return false;
        }
        if (!arg.startsWith(QLatin1String("--"))) {
            const QtOption *qt = FindQtOption(arg);
            if (!qt)
                *error = QStringLiteral("unknown option %1").arg(arg);
            else if (qt->takesValue && !arg.contains(QLatin1Char('=')) && i + 1 == args.size())
                *error = QStringLiteral("%1 needs a value").arg(arg);
            else
                *error = QStringLiteral("%1 is for the window; it does not go with --measure or --compare")
                             .arg(arg.section(QLatin1Char('='), 0, 0));
            return false;
        }
        const int eq = arg.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? arg : arg.left(eq);
        const KnownOption *known = FindOption(name);
        if (!known) {
            *error = QStringLiteral("unknown option %1").arg(name);
            return false;
        }
        if (name != QLatin1String("--limit") && seen.contains(name)) {
            *error = QStringLiteral("%1 is given twice").arg(name);
            return false;
        }
        seen << name;

        QStringList values;
        if (known->takes == Takes::Nothing) {
            if (eq >= 0) {
                *error = QStringLiteral("%1 takes no value").arg(name);
                return false;
            }
        } else {
            const int wanted = known->takes == Takes::TwoValues ? 2 : 1;
            if (eq >= 0)
                values << arg.mid(eq + 1);
            while (values.size() < wanted && i + 1 < args.size())
                values << args[++i];
            if (values.size() < wanted) {
                *error = wanted == 2 ? QStringLiteral("%1 needs two files").arg(name)
                                     : QStringLiteral("%1 needs a value").arg(name);
                return false;
            }
            for (const QString &v : values)
                if (v.isEmpty()) {
                    *error = QStringLiteral("%1 needs a value").arg(name);
                    return false;
                }
        }
        if (first(known->mode).isEmpty())
            first(known->mode) = name;

        if (name == QLatin1String("--version")) {
            out.mode = CommandLine::Mode::Version;
        } else if (name == QLatin1String("--measure") || name == QLatin1String("--calibrate")) {
            if (!TypedCount(values[0], &out.count)) {
                *error = QStringLiteral("%1 takes a whole number from 1 to %2, not \"%3\"")
                             .arg(name)
                             .arg(MaxMeasCount)
                             .arg(values[0]);
                return false;
            }
        } else if (name == QLatin1String("--settings")) {
            out.settingsFile = values[0];
        } else if (name == QLatin1String("--out")) {
            out.outDir = values[0];
        } else if (name == QLatin1String("--label")) {
            out.label = values[0];
        } else if (name == QLatin1String("--no-traces")) {
            out.noTraces = true;
        } else if (name == QLatin1String("--calibration")) {
            out.calibrationFile = values[0];
        } else if (name == QLatin1String("--limit")) {
            Limit limit;
            if (!ParseLimit(values[0], &limit, error))
                return false;
            out.limits.append(limit);
        } else if (name == QLatin1String("--guarded")) {
            out.guarded = true;
        } else if (name == QLatin1String("--path")) {
            // The video analyzer's reading has no edges to calibrate from:
            // its entry is typed into the calibration by hand.
            const QString path = values[0].toLower();
            if (path == QLatin1String("src2rf"))
                out.calibratePath = DelayPath::Src2Rf;
            else if (path == QLatin1String("src2snk"))
                out.calibratePath = DelayPath::Src2Snk;
            else {
                *error = QStringLiteral("--path is src2Rf or src2Snk, not \"%1\"").arg(values[0]);
                return false;
            }
        } else if (name == QLatin1String("--reference-ms")) {
            bool ok = false;
            out.referenceMs = TypedNumber(values[0], &ok);
            if (!ok || std::fabs(out.referenceMs) > 1000.0) {
                *error = QStringLiteral("--reference-ms takes a delay in ms from -1000 to 1000, not \"%1\"")
                             .arg(values[0]);
                return false;
            }
        } else if (name == QLatin1String("--compare")) {
            out.compareA = values[0];
            out.compareB = values[1];
        } else if (name == QLatin1String("--plot")) {
            if (ImageFormatOf(values[0]) == ImageFormat::Unknown) {
                *error = QStringLiteral("--plot writes %1, not \"%2\"").arg(ImageFormatNames(), values[0]);
                return false;
            }
            out.plotFile = values[0];
        } else if (name == QLatin1String("--report")) {
            if (!HasSuffix(values[0], {"html", "htm"})) {
                *error = QStringLiteral("--report writes HTML: give it a FILE.html, not \"%1\"").arg(values[0]);
                return false;
            }
            out.reportFile = values[0];
        } else if (name == QLatin1String("--junit")) {
            if (!HasSuffix(values[0], {"xml"})) {
                *error = QStringLiteral("--junit writes XML: give it a FILE.xml, not \"%1\"").arg(values[0]);
                return false;
            }
            out.junitFile = values[0];
        } else if (name == QLatin1String("--from")) {
            out.fromRecord = values[0];
        } else if (name == QLatin1String("--recover")) {
            out.recoverDir = values[0];
        }
    }

    if (out.mode == CommandLine::Mode::Version) {
        *cl = out;
        return true;
    }
    if (seen.contains(QStringLiteral("--recover"))) {
        if (seen.size() > 1) {
            *error = QStringLiteral("--recover DIR takes no other option");
            return false;
        }
        out.mode = CommandLine::Mode::Recover;
        *cl = out;
        return true;
    }
    const bool measure = seen.contains(QStringLiteral("--measure"));
    const bool calibrate = seen.contains(QStringLiteral("--calibrate"));
    const bool compare = seen.contains(QStringLiteral("--compare"));
    const bool from = seen.contains(QStringLiteral("--from"));
    // A report of a recorded run is made from the record alone.
    if (from) {
        QString other = first(For::Measure);
        for (For mode : {For::Calibrate, For::Run, For::Compare})
            if (other.isEmpty())
                other = first(mode);
        if (!other.isEmpty()) {
            *error = QStringLiteral("%1 does not go with --from: --from makes the report of a run already recorded")
                         .arg(other);
            return false;
        }
        if (out.reportFile.isEmpty()) {
            *error = QStringLiteral("--from needs --report FILE.html: the report it writes");
            return false;
        }
        out.mode = CommandLine::Mode::Report;
        *cl = out;
        return true;
    }
    if (!out.reportFile.isEmpty() && !measure && !calibrate) {
        *error = QStringLiteral("--report needs --measure N, --calibrate N or --from RUN.json");
        return false;
    }
    // A run (measured or calibrating) and a comparison never go together.
    QString runOption = first(For::Measure);
    for (For mode : {For::Calibrate, For::Run})
        if (runOption.isEmpty())
            runOption = first(mode);
    if (!runOption.isEmpty() && !first(For::Compare).isEmpty()) {
        *error = QStringLiteral("%1 and %2 do not go together: measure, calibrate or compare, one at a time")
                     .arg(runOption, first(For::Compare));
        return false;
    }
    if (measure && calibrate) {
        *error = QStringLiteral("--measure and --calibrate do not go together: measure or calibrate, one at a time");
        return false;
    }
    if (!first(For::Measure).isEmpty() && !measure) {
        *error = QStringLiteral("%1 needs --measure N").arg(first(For::Measure));
        return false;
    }
    if (!first(For::Calibrate).isEmpty() && !calibrate) {
        *error = QStringLiteral("%1 needs --calibrate N").arg(first(For::Calibrate));
        return false;
    }
    if (!first(For::Run).isEmpty() && !measure && !calibrate) {
        *error = QStringLiteral("%1 needs --measure N").arg(first(For::Run));
        return false;
    }
    if (!first(For::Compare).isEmpty() && !compare) {
        *error = QStringLiteral("%1 needs --compare A.json B.json").arg(first(For::Compare));
        return false;
    }
    if (calibrate && !seen.contains(QStringLiteral("--path"))) {
        *error = QStringLiteral("--calibrate needs --path src2Rf or src2Snk: the path it calibrates");
        return false;
    }
    if (calibrate && out.calibrationFile.isEmpty()) {
        *error = QStringLiteral("--calibrate needs --calibration FILE: the file it writes");
        return false;
    }
    if (!out.junitFile.isEmpty() && out.limits.isEmpty()) {
        *error = QStringLiteral("--junit needs at least one --limit: each is a test case");
        return false;
    }
    if (!measure && !compare && !calibrate) {
        *error = QStringLiteral("nothing to do: give --measure N, --compare A.json B.json or --report FILE.html --from RUN.json");
        return false;
    }
    out.mode = measure     ? CommandLine::Mode::Measure
               : calibrate ? CommandLine::Mode::Calibrate
                           : CommandLine::Mode::Compare;
    *cl = out;
    return true;
}

QString LabeledStamp(const QString &stamp, const QString &label)
{
    QString kept;
    for (const QChar c : label) {
        if (kept.size() == 64)
            break;
        const bool plain = (c.unicode() < 128 && c.isLetterOrNumber()) || c == QLatin1Char('-')
                           || c == QLatin1Char('_') || c == QLatin1Char('.');
        kept += plain ? c : QLatin1Char('-');
    }
    if (kept.isEmpty())
        return stamp;
    return stamp + kept + QLatin1Char('_');
}

QString UsageText(const QString &program)
{
    return QStringLiteral(
               // GNU's layout ("or:" lines, headings ending in ':', options
               // indented): help2man turns it into the man page.
               "Usage: %1 [Qt's options: -platform, -style, ...]\n"
               "  or:  %1 --measure N [OPTION]...\n"
               "  or:  %1 --calibrate N --path PATH --calibration FILE [OPTION]...\n"
               "  or:  %1 --compare A.json B.json [--plot FILE]\n"
               "  or:  %1 --report FILE.html --from RUN.json\n"
               "  or:  %1 --recover DIR\n"
               "  or:  %1 --discover [--timeout MS] [HOST-OR-SUBNET ...]\n"
               "  or:  %1 --scpi RESOURCE [--timeout MS] [--raw FILE] [COMMAND ...]\n"
               "  or:  %1 --help | --version\n"
               "Without options (or with Qt's own) it opens the window; with any of those below\n"
               "it measures, calibrates, compares, finds instruments or talks to one without one.\n"
               "\n"
               "Measuring, without a window or a display:\n"
               "  --measure N      set up the instruments as their Init buttons do and take N\n"
               "                   measurements (1 to %2) as Start does\n"
               "  --settings FILE  the settings file to read (default: the window's own, in its\n"
               "                   data folder)\n"
               "  --out DIR        write the files into DIR, created if missing (default: where\n"
               "                   the window writes them); the names are the window's:\n"
               "                   <name><stamp>Results.txt, ...Run.json, ...001_src.bin\n"
               "  --label TEXT     part of the files' stamp (ASCII letters, digits, - _ . kept,\n"
               "                   anything else turned into -, at most 64) and, whole, of the\n"
               "                   run record\n"
               "  --no-traces      write no trace files\n"
               "  --limit L        fail with status 3 when a figure of the run exceeds a limit:\n"
               "                   PATH is src2rf, src2hd or src2snk, FIGURE mean (default),\n"
               "                   median, p95 or max, MS milliseconds; repeatable; quote it\n"
               "                   for the shell: --limit 'src2snk<=150' --limit 'p95:src2snk<=160'\n"
               "  --guarded        judge each limit against the corrected figure and its\n"
               "                   uncertainty U: met when figure + U <= limit, exceeded when\n"
               "                   figure - U > limit, otherwise inconclusive (status 5)\n"
               "  --calibration FILE  the calibration to take off the fine delays (default: the\n"
               "                   one the window uses, kept beside the settings file)\n"
               "  --report FILE.html  also write the run's report: one HTML file with its\n"
               "                   figures, uncertainties, plots, last traces and limits, to\n"
               "                   read in any browser or print (also with --calibrate)\n"
               "  --junit FILE.xml also write the limits as JUnit XML for a CI server: one test\n"
               "                   case per --limit, named as given\n"
               "Progress goes to standard error, the statistics table to standard output.\n"
               "Ctrl-C (or SIGTERM) ends the run after the exchange under way, puts the\n"
               "instruments back into free run and writes what was kept; a second Ctrl-C\n"
               "ends the program at once and says what was not written.\n"
               "Each measurement is on disk as it is taken (its trace files, its row of the\n"
               "delay table, its line in <name><stamp>Journal.jsonl); the results file and the\n"
               "run record are written at the end, and the journal then goes.\n"
               "\n"
               "After a crash, a kill or a power cut:\n"
               "  --recover DIR    finish every unfinished run in DIR from its journal: results\n"
               "                   file, delay table and run record of the measurements on disk\n"
               "                   (the window does this for its own folder when it starts)\n"
               "\n"
               "Calibrating, on a reference set-up whose delay is known:\n"
               "  --calibrate N --path PATH --calibration FILE [--reference-ms X]\n"
               "                   take N measurements as --measure does and write PATH's offset\n"
               "                   (mean fine delay - X, default X 0: the sensor on the source\n"
               "                   itself) with its uncertainty into FILE, keeping its other\n"
               "                   entries; PATH is src2Rf or src2Snk; --settings, --out,\n"
               "                   --label and --no-traces as with --measure\n"
               "\n"
               "Comparing two runs:\n"
               "  --compare A.json B.json\n"
               "                    per path n, mean, standard deviation, median and 95th\n"
               "                    percentile of both run records, and the difference of\n"
               "                    the means with its 95 % confidence interval (Welch)\n"
               "  --plot FILE      also write both runs' histograms, overlaid, per path, as\n"
               "                   PNG, JPEG, SVG or PDF after FILE's suffix\n"
               "\n"
               "Reporting a recorded run:\n"
               "  --report FILE.html --from RUN.json\n"
               "                   write the report of the run a run record (...Run.json)\n"
               "                   describes; its last traces come from the trace files beside it\n"
               "\n"
               "Finding instruments:\n"
               "  --discover       list the instruments on the network, one line each: a resource\n"
               "                   string to paste and the instrument's *IDN? answer; asks by a\n"
               "                   VXI-11 broadcast and by mDNS on every interface, and each HOST\n"
               "                   (name, a.b.c.d or subnet a.b.c.d/n) directly\n"
               "  --timeout MS     end after MS milliseconds (default 1000): the first half\n"
               "                   listens for answers, the second asks *IDN?\n"
               "\n"
               "Talking to one instrument (an SCPI console):\n"
               "  --scpi RESOURCE  open it (TCPIP::host::port::SOCKET, TCPIP::host::INSTR, ...),\n"
               "                   send each COMMAND and print the reply of each query (a\n"
               "                   command with a '?'): text as it came, a definite-length\n"
               "                   block as its size and first values; without commands, read\n"
               "                   them from standard input, one a line\n"
               "  --timeout MS     time-out of the open and of every exchange (default 2000)\n"
               "  --raw FILE       write a block reply's data whole to FILE (the last block)\n"
               "\n"
               "Exit status:\n"
               "  0    done; for --scpi: every exchange succeeded\n"
               "  1    usage: the command line, the settings file it names or the calibration\n"
               "       it applies is wrong (also an argument the window does not take, or no\n"
               "       display for the window)\n"
               "  2    set-up or instrument failure (also an instrument lost during the run), or\n"
               "       a file that could not be read or written (also by --recover); for --scpi:\n"
               "       the instrument could not be opened or an exchange failed (each failure is\n"
               "       named on stderr)\n"
               "  3    a limit was exceeded (or its figure has no value)\n"
               "  4    run incomplete: stopped before N measurements (acquisitions rejected %3\n"
               "       times in a row, the spool file not writable)\n"
               "  5    --guarded: no limit exceeded, but a limit lies within a figure's\n"
               "       uncertainty (inconclusive)\n"
               "  130  interrupted by SIGINT or SIGTERM; what was kept is written\n"
               "  --discover: 0 when it found instruments, 2 when it found none\n")
        .arg(program)
        .arg(MaxMeasCount)
        .arg(MaxRejectedInARow);
}
