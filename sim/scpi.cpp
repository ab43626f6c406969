#include "sim/scpi.h"

#include <QtEndian>

#include <charconv>
#include <limits>

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

bool CommandReader::next(Command *cmd)
{
    const char *data = message_.constData();
    const int size = message_.size();
    while (pos_ <= size) {
        int end = pos_;
        char quote = 0;
        for (; end < size; ++end) {
            const char c = data[end];
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == ';') {
                break;
            }
        }
        const QByteArray text = message_.mid(pos_, end - pos_).trimmed();
        pos_ = end + 1;
        if (!text.isEmpty()) {
            *cmd = parseCommand(text);
            return true;
        }
    }
    return false;
}

QList<Command> splitMessage(const QByteArray &message)
{
    QList<Command> commands;
    CommandReader reader(message);
    for (Command cmd; reader.next(&cmd);)
        commands.append(cmd);
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

QByteArray blockHeader(qint64 count)
{
    const QByteArray digits = QByteArray::number(count);
    return '#' + QByteArray::number(digits.size()) + digits;
}

QByteArray floatBlock(const QVector<float> &samples)
{
    QByteArray out = blockHeader(qint64(samples.size()) * 4);
    out.reserve(out.size() + samples.size() * 4);
    for (float v : samples) {
        char le[4];
        qToLittleEndian(v, le);
        out.append(le, 4);
    }
    return out;
}

bool appendAsciiList(const char *le32, qint64 count, qint64 maxBytes, QByteArray *out)
{
    const int start = out->size();
    for (qint64 i = 0; i < count; ++i) {
        // "%.7g" without the C library's locale: to_chars never writes a decimal comma.
        char text[32];
        char *end = text;
        if (i)
            *end++ = ',';
        const double v = qFromLittleEndian<float>(le32 + 4 * i);
        if (v == 0)
            *end++ = '0'; // also for -0, as QByteArray::number writes it
        else
            end = std::to_chars(end, text + sizeof text, v, std::chars_format::general, 7).ptr;
        if (out->size() - start + (end - text) > maxBytes) {
            out->truncate(start);
            return false;
        }
        out->append(text, int(end - text));
    }
    return true;
}

QByteArray asciiList(const QVector<float> &samples)
{
    QVector<char> le(samples.size() * 4);
    for (int i = 0; i < samples.size(); ++i)
        qToLittleEndian(samples[i], le.data() + 4 * i);
    QByteArray out;
    appendAsciiList(le.constData(), samples.size(), std::numeric_limits<qint64>::max(), &out);
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
