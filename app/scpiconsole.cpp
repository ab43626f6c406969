#include "app/scpiconsole.h"

#include "app/commandline.h"
#include "app/scpiexchange.h"
#include "instruments/visasession.h"
#include "instruments/visastatustext.h"
#include "shared/version.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <unistd.h>

namespace {

void Print(std::FILE *to, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

bool IsHelp(const QString &arg)
{
    return arg == QLatin1String("-h") || arg == QLatin1String("--help");
}

// The option's name and, for "--name=value", its value.
QString OptionName(const QString &arg)
{
    const int eq = arg.indexOf(QLatin1Char('='));
    return eq < 0 ? arg : arg.left(eq);
}

// The sessions of one console, closed on every way out.
struct Sessions
{
    ViSession rm = 0, vi = 0;

    ~Sessions()
    {
        if (vi != 0)
            VisaClose(vi);
        if (rm != 0)
            VisaClose(rm);
    }
};

// One exchange, its reply on standard output and what failed on standard
// error. False when it failed.
bool Exchange(ViSession vi, const QByteArray &command, const ScpiConsoleRequest &request)
{
    const ScpiReply reply = ScpiExchange(vi, command, request.rawFile, request.timeoutMs);
    if (!reply.failure.isEmpty()) {
        Print(stderr, QStringLiteral("%1: %2\n").arg(QString::fromLocal8Bit(command), reply.failure));
        return false;
    }
    if (reply.query)
        Print(stdout, ScpiReplyText(reply) + QLatin1Char('\n'));
    return true;
}

// Commands from standard input until it ends; a prompt where a person types.
bool ExchangeFromInput(ViSession vi, const ScpiConsoleRequest &request)
{
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return false;
    const bool prompt = isatty(STDIN_FILENO) == 1 && isatty(STDERR_FILENO) == 1;
    bool allOk = true;
    for (;;) {
        if (prompt)
            Print(stderr, QStringLiteral("> "));
        QByteArray line = in.readLine(MaxScpiCommandBytes + 2);
        if (line.isEmpty())
            break;
        if (!line.endsWith('\n') && !in.atEnd()) {
            // Too long for a command: the rest of the line goes unsent.
            while (!in.atEnd() && !in.readLine(MaxScpiCommandBytes).endsWith('\n')) {
            }
            Print(stderr, QStringLiteral("a command of more than %1 bytes is not sent\n").arg(MaxScpiCommandBytes));
            allOk = false;
            continue;
        }
        line = line.trimmed();
        if (!line.isEmpty())
            allOk = Exchange(vi, line, request) && allOk;
    }
    if (prompt)
        Print(stderr, QStringLiteral("\n"));
    return allOk;
}

} // namespace

bool ScpiConsoleWanted(const QStringList &args)
{
    bool scpi = false;
    for (int i = 1; i < args.size(); ++i) {
        if (IsHelp(args[i]))
            return false;
        scpi = scpi || OptionName(args[i]) == QLatin1String("--scpi");
    }
    return scpi;
}

bool ParseScpiConsole(const QStringList &args, ScpiConsoleRequest *request, QString *error)
{
    ScpiConsoleRequest out;
    QStringList seen;
    for (int i = 1; i < args.size(); ++i) {
        const QString arg = args[i];
        if (!arg.startsWith(QLatin1String("--"))) {
            if (arg.trimmed().isEmpty()) {
                *error = QStringLiteral("an empty command");
                return false;
            }
            out.commands << arg;
            continue;
        }
        const QString name = OptionName(arg);
        if (name != QLatin1String("--scpi") && name != QLatin1String("--timeout") && name != QLatin1String("--raw")) {
            *error = QStringLiteral("%1 does not go with --scpi").arg(name);
            return false;
        }
        if (seen.contains(name)) {
            *error = QStringLiteral("%1 is given twice").arg(name);
            return false;
        }
        seen << name;
        QString value;
        if (name != arg)
            value = arg.mid(name.size() + 1);
        else if (i + 1 < args.size())
            value = args[++i];
        if (value.isEmpty()) {
            *error = QStringLiteral("%1 needs a value").arg(name);
            return false;
        }
        if (name == QLatin1String("--scpi")) {
            out.resource = value;
        } else if (name == QLatin1String("--raw")) {
            out.rawFile = value;
        } else {
            bool ok = false;
            const uint ms = value.toUInt(&ok);
            if (!ok || ms < 1 || ms > MaxScpiTimeoutMs) {
                *error = QStringLiteral("--timeout takes whole milliseconds from 1 to %1, not \"%2\"")
                             .arg(MaxScpiTimeoutMs)
                             .arg(value);
                return false;
            }
            out.timeoutMs = ViUInt32(ms);
        }
    }
    if (out.resource.isEmpty()) {
        *error = QStringLiteral("--scpi needs a resource");
        return false;
    }
    *request = out;
    return true;
}

int ScpiConsoleMain(const QStringList &args)
{
    const QString program = QFileInfo(args.value(0, ToolName())).fileName();
    ScpiConsoleRequest request;
    QString error;
    if (!ParseScpiConsole(args, &request, &error)) {
        Print(stderr, QStringLiteral("%1: %2\nTry \"%1 --help\".\n").arg(program, error));
        return ExitUsage;
    }

    Sessions s;
    ViStatus status = VisaOpenDefaultRM(s.rm);
    if (status != VI_SUCCESS) {
        Print(stderr, QStringLiteral("VISA resource manager not available\n"));
        return ExitFailure;
    }
    // The open is bounded by the same time-out as every exchange.
    status = VisaOpen(s.rm, request.resource, VI_NULL, request.timeoutMs, s.vi);
    if (status < VI_SUCCESS) {
        s.vi = 0;
        Print(stderr, QStringLiteral("Cannot open %1: %2\n")
                          .arg(request.resource, VisaStatusText(status, request.timeoutMs)));
        return ExitFailure;
    }
    VisaSetAttribute(s.vi, VI_ATTR_TMO_VALUE, request.timeoutMs);

    bool allOk = true;
    if (request.commands.isEmpty()) {
        allOk = ExchangeFromInput(s.vi, request);
    } else {
        for (const QString &command : request.commands)
            allOk = Exchange(s.vi, command.toLocal8Bit(), request) && allOk;
    }
    return allOk ? ExitDone : ExitFailure;
}
