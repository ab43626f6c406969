#include "app/commandline.h"

#include "measurement/measrun.h"
#include "shared/typednumber.h"

#include <cmath>

namespace {

enum class Takes { Nothing, Value, TwoValues };

struct KnownOption
{
    const char *name;
    Takes takes;
    bool measure; // belongs to --measure
    bool compare; // belongs to --compare
};

const KnownOption Options[] = {
    {"--measure", Takes::Value, true, false},
    {"--settings", Takes::Value, true, false},
    {"--out", Takes::Value, true, false},
    {"--label", Takes::Value, true, false},
    {"--no-traces", Takes::Nothing, true, false},
    {"--limit", Takes::Value, true, false},
    {"--compare", Takes::TwoValues, false, true},
    {"--plot", Takes::Value, false, true},
    {"--help", Takes::Nothing, false, false},
    {"--version", Takes::Nothing, false, false},
};

const KnownOption *FindOption(const QString &name)
{
    for (const KnownOption &o : Options)
        if (name == QLatin1String(o.name))
            return &o;
    return nullptr;
}

struct PathName
{
    const char *key;
    LimitPath path;
    const char *shown;
};

const PathName Paths[] = {
    {"src2rf", LimitPath::Src2Rf, "Source->RF"},
    {"src2hd", LimitPath::Src2Hd, "Source->HDMI"},
    {"src2snk", LimitPath::Src2Snk, "Source->Sink"},
};

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
    for (int i = 1; i < args.size(); ++i)
        if (args[i].startsWith(QLatin1String("--")) || args[i] == QLatin1String("-h"))
            return true;
    return false;
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
    for (const PathName &p : Paths)
        if (path == QLatin1String(p.key)) {
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
    *limit = out;
    return true;
}

QString LimitName(const Limit &limit)
{
    QString name;
    for (const PathName &p : Paths)
        if (p.path == limit.path)
            name = QLatin1String(p.shown);
    for (const FigureName &f : Figures)
        if (f.figure == limit.figure)
            name += QLatin1Char(' ') + QLatin1String(f.key);
    return name;
}

bool ParseCommandLine(const QStringList &args, CommandLine *cl, QString *error)
{
    CommandLine out;
    QStringList seen;
    bool measureOnly = false, compareOnly = false;
    QString measureOption, compareOption; // the first of each kind, for messages

    // Asking for help is never a mistake, whatever else the line holds.
    for (int i = 1; i < args.size(); ++i)
        if (args[i] == QLatin1String("-h") || args[i] == QLatin1String("--help")) {
            out.mode = CommandLine::Mode::Help;
            *cl = out;
            return true;
        }

    for (int i = 1; i < args.size(); ++i) {
        const QString arg = args[i];
        if (!arg.startsWith(QLatin1String("--"))) {
            *error = QStringLiteral("unexpected argument \"%1\"").arg(arg);
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

        if (known->measure && !measureOnly) {
            measureOnly = true;
            measureOption = name;
        }
        if (known->compare && !compareOnly) {
            compareOnly = true;
            compareOption = name;
        }

        if (name == QLatin1String("--version")) {
            out.mode = CommandLine::Mode::Version;
        } else if (name == QLatin1String("--measure")) {
            if (!TypedCount(values[0], &out.count)) {
                *error = QStringLiteral("--measure takes a whole number from 1 to %1, not \"%2\"")
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
        } else if (name == QLatin1String("--limit")) {
            Limit limit;
            if (!ParseLimit(values[0], &limit, error))
                return false;
            out.limits.append(limit);
        } else if (name == QLatin1String("--compare")) {
            out.compareA = values[0];
            out.compareB = values[1];
        } else if (name == QLatin1String("--plot")) {
            out.plotFile = values[0];
        }
    }

    if (out.mode == CommandLine::Mode::Version) {
        *cl = out;
        return true;
    }
    if (measureOnly && compareOnly) {
        *error = QStringLiteral("%1 and %2 do not go together: measure or compare, one at a time")
                     .arg(measureOption, compareOption);
        return false;
    }
    const bool measure = seen.contains(QStringLiteral("--measure"));
    const bool compare = seen.contains(QStringLiteral("--compare"));
    if (measureOnly && !measure) {
        *error = QStringLiteral("%1 needs --measure N").arg(measureOption);
        return false;
    }
    if (compareOnly && !compare) {
        *error = QStringLiteral("%1 needs --compare A.json B.json").arg(compareOption);
        return false;
    }
    if (!measure && !compare) {
        *error = QStringLiteral("nothing to do: give --measure N or --compare A.json B.json");
        return false;
    }
    out.mode = measure ? CommandLine::Mode::Measure : CommandLine::Mode::Compare;
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
               "Usage: %1                                   open the window\n"
               "       %1 --measure N [--settings FILE] [--out DIR] [--label TEXT]\n"
               "                [--no-traces] [--limit [FIGURE:]PATH<=MS ...]\n"
               "       %1 --compare A.json B.json [--plot FILE.png]\n"
               "       %1 --scpi RESOURCE [--timeout MS] [--raw FILE] [COMMAND ...]\n"
               "       %1 --help | --version\n"
               "\n"
               "Measuring, without a window or a display:\n"
               "  --measure N      set up the instruments as their Init buttons do and take N\n"
               "                   measurements (1 to %2) as Start does\n"
               "  --settings FILE  the settings file to read (default: the window's own, in its\n"
               "                   data folder)\n"
               "  --out DIR        write the files into DIR, created if missing (default: where\n"
               "                   the window writes them); the names are the window's:\n"
               "                   <name><stamp>Results.txt, ...Run.json, ...001_src.bin\n"
               "  --label TEXT     part of the files' stamp and of the run record\n"
               "  --no-traces      write no trace files\n"
               "  --limit L        fail with status 3 when a figure of the run exceeds a limit:\n"
               "                   PATH is src2rf, src2hd or src2snk, FIGURE mean (default),\n"
               "                   median, p95 or max, MS milliseconds; repeatable; quote it\n"
               "                   for the shell: --limit 'src2snk<=150' --limit 'p95:src2snk<=160'\n"
               "Progress goes to standard error, the statistics table to standard output.\n"
               "Ctrl-C (or SIGTERM) ends the run after the exchange under way, puts the\n"
               "instruments back into free run and writes what was kept; a second Ctrl-C\n"
               "ends the program at once.\n"
               "\n"
               "Comparing two runs:\n"
               "  --compare A.json B.json  per path n, mean, standard deviation, median and 95th\n"
               "                   percentile of both run records, and the difference of the\n"
               "                   means with its 95 % confidence interval (Welch)\n"
               "  --plot FILE.png  also write both runs' histograms, overlaid, per path\n"
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
               "  1    usage: the command line or the settings file it names is wrong\n"
               "  2    set-up or instrument failure (also an instrument lost during the run), or\n"
               "       a file that could not be read or written; for --scpi: the instrument could\n"
               "       not be opened or an exchange failed (each failure is named on stderr)\n"
               "  3    a limit was exceeded (or its figure has no value)\n"
               "  4    run incomplete: stopped before N measurements (acquisitions rejected %3\n"
               "       times in a row, Trace.tmp not writable)\n"
               "  130  interrupted by SIGINT or SIGTERM; what was kept is written\n")
        .arg(program)
        .arg(MaxMeasCount)
        .arg(MaxRejectedInARow);
}
