#include "sim/logline.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace benchsim {

QByteArray logLine(const LogEntry &e)
{
    QJsonObject o;
    o.insert(QStringLiteral("instrument"), e.instrument);
    o.insert(QStringLiteral("command"), QString::fromLatin1(e.command));
    // Only a message longer than the log keeps says how long it was.
    if (e.commandSize > e.command.size())
        o.insert(QStringLiteral("commandSize"), e.commandSize);
    o.insert(QStringLiteral("reply"), QString::fromLatin1(e.reply));
    o.insert(QStringLiteral("replySize"), e.replySize);
    o.insert(QStringLiteral("unknown"), e.unknown);
    o.insert(QStringLiteral("fault"), e.fault);
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace benchsim
