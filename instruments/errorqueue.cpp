#include "instruments/errorqueue.h"

#include "instruments/visasession.h"

const char ErrorQueueQuery[] = "SYST:ERR?\n";

namespace {

constexpr int QueueOverflow = -350; // SCPI: entries were lost
constexpr int MaxEntryShown = 200;  // characters of an entry a message quotes

} // namespace

bool ParseErrorEntry(const QString &reply, int *code)
{
    const QString text = reply.trimmed();
    const int comma = text.indexOf(QLatin1Char(','));
    bool ok = false;
    const int value = (comma < 0 ? text : text.left(comma)).trimmed().toInt(&ok);
    if (!ok)
        return false;
    *code = value;
    return true;
}

ErrorQueueReport ReadErrorQueue(const std::function<ViStatus(const QString &command, QString &reply)> &query)
{
    ErrorQueueReport report;
    const QString command = QString::fromLatin1(ErrorQueueQuery);
    for (int read = 0; read < MaxErrorQueueReads; ++read) {
        QString reply;
        int code = 0;
        if (query(command, reply) != VI_SUCCESS || !ParseErrorEntry(reply, &code))
            return report;
        report.answered = true;
        if (code == 0)
            return report;
        if (report.first.isEmpty())
            report.first = reply.trimmed().left(MaxEntryShown);
        if (code == QueueOverflow)
            report.more = true;
        else
            ++report.errors;
    }
    report.more = true; // still not empty after every read
    return report;
}

ErrorQueueReport ReadErrorQueue(ViSession vi)
{
    return ReadErrorQueue([vi](const QString &command, QString &reply) { return VisaQuery(vi, command, reply); });
}

QString RefusalText(const ErrorQueueReport &report)
{
    // An overflow mark takes the place of at least one lost entry.
    const int count = report.more ? report.errors + 1 : report.errors;
    return QStringLiteral("refused %1%2 set-up command%3 (first: %4)")
        .arg(report.more ? QStringLiteral("at least ") : QString())
        .arg(count)
        .arg(count == 1 && !report.more ? QString() : QStringLiteral("s"))
        .arg(report.first);
}
