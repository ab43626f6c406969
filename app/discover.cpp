#include "app/discover.h"

#include "app/commandline.h"
#include "shared/typednumber.h"

#include <cstdio>
#include <cstdlib>

namespace {

const char DiscoverOption[] = "--discover";
const char TimeoutOption[] = "--timeout";

void Print(std::FILE *to, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

} // namespace

bool WantsDiscover(const QStringList &args)
{
    return args.mid(1).contains(QLatin1String(DiscoverOption));
}

bool ParseDiscoverArgs(const QStringList &args, FindRequest *request, QString *error)
{
    FindRequest out;
    bool timeoutSeen = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString arg = args[i];
        if (arg == QLatin1String(DiscoverOption))
            continue;
        if (arg == QLatin1String(TimeoutOption) || arg.startsWith(QLatin1String(TimeoutOption) + QLatin1Char('='))) {
            if (timeoutSeen) {
                *error = QStringLiteral("--timeout is given twice");
                return false;
            }
            timeoutSeen = true;
            QString value;
            if (arg.contains(QLatin1Char('=')))
                value = arg.section(QLatin1Char('='), 1);
            else if (i + 1 < args.size())
                value = args[++i];
            int ms = 0;
            if (!TypedCount(value, &ms) || ms > MaxFindTimeoutMs) {
                *error = QStringLiteral("--timeout takes milliseconds from 1 to %1, not \"%2\"")
                             .arg(MaxFindTimeoutMs)
                             .arg(value);
                return false;
            }
            out.timeoutMs = ms;
        } else if (arg.startsWith(QLatin1Char('-'))) {
            *error = QStringLiteral("%1 does not go with --discover").arg(arg.section(QLatin1Char('='), 0, 0));
            return false;
        } else {
            out.hosts << arg;
        }
    }
    *request = out;
    return true;
}

QString DiscoverLines(const QVector<FoundInstrument> &found)
{
    int width = 0;
    for (const FoundInstrument &f : found)
        width = std::max(width, int(f.resource.size()));
    QString out;
    for (const FoundInstrument &f : found) {
        const QString about = f.identity.isEmpty() ? QStringLiteral("(%1)").arg(f.problem) : f.identity;
        out += f.resource.leftJustified(width) + QLatin1String("  ") + about + QLatin1Char('\n');
    }
    return out;
}

int Discover(const FindRequest &request)
{
    const QString hostsProblem = request.hosts.isEmpty() ? QString() : HostsProblem(request.hosts);
    if (!hostsProblem.isEmpty()) {
        Print(stderr, QStringLiteral("--discover: %1\n").arg(hostsProblem));
        return ExitUsage;
    }
    const FindOutcome outcome = FindInstruments(request);
    if (!outcome.error.isEmpty()) {
        Print(stderr, outcome.error + QLatin1Char('\n'));
        return ExitFailure;
    }
    Print(stdout, DiscoverLines(outcome.found));
    const QString seconds = QString::number(outcome.elapsedMs / 1000.0, 'f', 2);
    int answered = 0;
    for (const FoundInstrument &f : outcome.found)
        answered += f.identity.isEmpty() ? 0 : 1;
    if (outcome.found.isEmpty())
        Print(stderr, QStringLiteral("No instruments found in %1 s\n").arg(seconds));
    else
        Print(stderr, QStringLiteral("%1 resources found, %2 answered *IDN?, in %3 s\n")
                          .arg(outcome.found.size())
                          .arg(answered)
                          .arg(seconds));
    const int status = outcome.found.isEmpty() ? ExitFailure : ExitDone;
    // An instrument that took the connection and fell silent holds its
    // asker in a VISA call past the time-out (VXI-11 allows a reply one
    // second more, and closing the link as long): the program ends now
    // all the same, everything printed.
    if (outcome.stillAsking)
        std::_Exit(status);
    return status;
}
