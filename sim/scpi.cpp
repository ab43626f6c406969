#include "sim/scpi.h"

#include <QtEndian>

namespace benchsim {

static Command parseCommand(const QByteArray &text)
{
    Command cmd;
    // The header ends at the first blank; everything after it is parameters.
    int sp = 0;
    while (sp < text.size() && text.at(sp) != ' ' && text.at(sp) != '\t')
        ++sp;
    cmd.header = text.left(sp).toUpper();
    cmd.args = text.mid(sp).trimmed();
    cmd.query = cmd.header.endsWith('?');
    return cmd;
}

QList<Command> splitMessage(const QByteArray &message)
{
    QList<Command> commands;
    QByteArray current;
    char quote = 0;
    for (char c : message) {
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == ';') {
            const QByteArray text = current.trimmed();
            if (!text.isEmpty())
                commands.append(parseCommand(text));
            current.clear();
            continue;
        }
        current.append(c);
    }
    const QByteArray text = current.trimmed();
    if (!text.isEmpty())
        commands.append(parseCommand(text));
    return commands;
}

QByteArray channelPattern(const QByteArray &header, int *channel)
{
    *channel = 0;
    if (!header.startsWith("CHAN") || header.size() < 5)
        return header;
    const char c = header.at(4);
    if (c < '1' || c > '4')
        return header;
    // "CHAN12" is not a channel of a four-channel scope.
    if (header.size() > 5 && header.at(5) >= '0' && header.at(5) <= '9')
        return header;
    *channel = c - '0';
    return QByteArray("CHAN#") + header.mid(5);
}

bool parseBool(const QByteArray &args, bool *value)
{
    const QByteArray a = args.trimmed().toUpper();
    if (a == "ON" || a == "1") {
        *value = true;
        return true;
    }
    if (a == "OFF" || a == "0") {
        *value = false;
        return true;
    }
    return false;
}

bool parseDataFormat(const QByteArray &args, bool *ascii)
{
    const QByteArray a = args.toUpper().replace(" ", "");
    if (a == "ASC" || a == "ASCII" || a == "ASC,0") {
        *ascii = true;
        return true;
    }
    if (a == "REAL,32" || a == "REAL") {
        *ascii = false;
        return true;
    }
    return false;
}

QByteArray floatBlock(const QVector<float> &samples)
{
    const QByteArray count = QByteArray::number(qint64(samples.size()) * 4);
    QByteArray out;
    out.reserve(2 + count.size() + samples.size() * 4);
    out.append('#');
    out.append(char('0' + count.size()));
    out.append(count);
    for (float v : samples) {
        char le[4];
        qToLittleEndian(v, le);
        out.append(le, 4);
    }
    return out;
}

QByteArray asciiList(const QVector<float> &samples)
{
    QByteArray out;
    out.reserve(samples.size() * 12);
    for (int i = 0; i < samples.size(); ++i) {
        if (i)
            out.append(',');
        out.append(QByteArray::number(double(samples[i]), 'g', 7));
    }
    return out;
}

QByteArray blockPayload(const QByteArray &reply)
{
    if (reply.size() >= 2 && reply.at(0) == '#' && reply.at(1) >= '1' && reply.at(1) <= '9') {
        const int n = reply.at(1) - '0';
        bool ok = false;
        const qint64 count = reply.mid(2, n).toLongLong(&ok);
        if (ok && 2 + n + count <= reply.size())
            return reply.mid(2 + n, int(count));
    }
    QByteArray text = reply;
    if (text.endsWith('\n'))
        text.chop(1);
    return text;
}

} // namespace benchsim
