#include "app/scpiexchange.h"

#include "instruments/blockread.h"
#include "instruments/readblock.h"
#include "instruments/visasession.h"
#include "instruments/visastatustext.h"

#include <QFile>
#include <QStringList>

#include <algorithm>

namespace {

// Replies are read in pieces of this size.
constexpr ViUInt32 PieceBytes = 64 * 1024;
// What is read of one reply at most: the largest block and some text.
constexpr qint64 MaxReplyBytes = MaxBlockBytes + (1 << 20);
// Of a block: this many float32 values, or bytes in hexadecimal.
constexpr int ShownValues = 8;
constexpr int ShownHexBytes = 16;

ScpiReply Failed(ScpiReply r, const QString &what)
{
    r.failure = what;
    return r;
}

QString StatusWords(ViSession vi, ViStatus status, ViUInt32 timeoutMs)
{
    const QString said = InstrumentSaid(vi, status);
    const QString words = VisaStatusText(status, timeoutMs);
    return said.isEmpty() ? words : QStringLiteral("%1 (the instrument: %2)").arg(words, said);
}

// Reads until the end of the message, keeping at most keep more bytes in
// *kept and counting the others in *dropped. VI_SUCCESS at the end of the
// message; an error status; or VI_SUCCESS_MAX_CNT when *read would pass limit.
ViStatus ReadRest(ViSession vi, QByteArray *kept, int keep, qint64 *dropped, qint64 limit, qint64 *read)
{
    QByteArray piece(int(PieceBytes), Qt::Uninitialized);
    for (;;) {
        if (*read >= limit)
            return VI_SUCCESS_MAX_CNT;
        ViUInt32 got = 0;
        const ViStatus st = VisaRead(vi, reinterpret_cast<ViByte *>(piece.data()), PieceBytes, got);
        *read += got;
        const int take = std::min<int>(int(got), std::max(0, keep - kept->size()));
        kept->append(piece.constData(), take);
        *dropped += qint64(got) - take;
        if (st != VI_SUCCESS_MAX_CNT)
            return st < 0 ? st : VI_SUCCESS;
    }
}

ScpiReply ReadText(ViSession vi, ScpiReply r, const QByteArray &start, ViStatus status, ViUInt32 timeoutMs)
{
    r.shown = start;
    if (status == VI_SUCCESS_MAX_CNT) {
        qint64 read = start.size();
        status = ReadRest(vi, &r.shown, ShownTextBytes, &r.notShown, MaxReplyBytes, &read);
        if (status == VI_SUCCESS_MAX_CNT)
            return Failed(r, QStringLiteral("reply longer than %1 bytes, not read to its end").arg(MaxReplyBytes));
        if (status < 0)
            return Failed(r, QStringLiteral("reply cut short: %1").arg(StatusWords(vi, status, timeoutMs)));
    }
    if (r.notShown == 0 && r.shown.endsWith('\n'))
        r.shown.chop(1);
    return r;
}

// The block's count bytes, into rawFile or with the first kept in r.shown;
// st is the status of the header's read (VI_SUCCESS: the message ended).
ScpiReply ReadBlockData(ViSession vi, ScpiReply r, ViStatus st, qint64 count, const QString &rawFile,
                        ViUInt32 timeoutMs)
{
    qint64 read = 0;
    if (!rawFile.isEmpty() && count > 0 && st == VI_SUCCESS_MAX_CNT) {
        ViUInt32 got = 0;
        st = VisaReadToFile(vi, rawFile, ViUInt32(count), got);
        read = got;
        if (st >= 0 && read == count) {
            r.rawFile = rawFile;
            QFile written(rawFile);
            if (written.open(QIODevice::ReadOnly))
                r.shown = written.read(ShownBlockBytes);
        } else {
            QFile::remove(rawFile); // part of a block is no block
        }
    } else {
        QByteArray piece(int(PieceBytes), Qt::Uninitialized);
        while (read < count && st == VI_SUCCESS_MAX_CNT) {
            ViUInt32 got = 0;
            const ViUInt32 want = ViUInt32(std::min<qint64>(PieceBytes, count - read));
            st = VisaRead(vi, reinterpret_cast<ViByte *>(piece.data()), want, got);
            const int take = std::min<int>(int(got), std::max(0, ShownBlockBytes - r.shown.size()));
            r.shown.append(piece.constData(), take);
            read += got;
        }
    }
    if (st == VI_ERROR_FILE_ACCESS || st == VI_ERROR_FILE_IO)
        return Failed(r, QStringLiteral("block of %1 bytes not written to %2: %3")
                             .arg(count)
                             .arg(rawFile, StatusWords(vi, st, timeoutMs)));
    if (st < 0)
        return Failed(r, QStringLiteral("block of %1 bytes cut short after %2: %3")
                             .arg(count)
                             .arg(read)
                             .arg(StatusWords(vi, st, timeoutMs)));
    if (read < count)
        return Failed(r, QStringLiteral("block of %1 bytes ended after %2").arg(count).arg(read));
    // The terminator after the data, if the message goes on.
    if (st == VI_SUCCESS_MAX_CNT) {
        QByteArray after;
        qint64 dropped = 0, rest = 0;
        st = ReadRest(vi, &after, 0, &dropped, 1 << 20, &rest);
        if (st == VI_SUCCESS_MAX_CNT)
            return Failed(r, QStringLiteral("more than a megabyte after the block, not read to its end"));
        if (st < 0)
            return Failed(r, QStringLiteral("after the block: %1").arg(StatusWords(vi, st, timeoutMs)));
    }
    return r;
}

QString Escaped(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const uchar u = uchar(c);
        if ((u >= 0x20 && u < 0x7f) || u == '\t')
            out += QLatin1Char(c);
        else
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
    }
    return out;
}

} // namespace

bool IsScpiQuery(const QByteArray &command)
{
    char quote = 0;
    for (const char c : command) {
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '?') {
            return true;
        }
    }
    return false;
}

ScpiReply ScpiExchange(ViSession vi, const QByteArray &command, const QString &rawFile, ViUInt32 timeoutMs)
{
    ScpiReply r;
    const QByteArray line = command + '\n';
    ViUInt32 sent = 0;
    ViStatus st = VisaWrite(vi, reinterpret_cast<const ViByte *>(line.constData()), ViUInt32(line.size()), &sent);
    if (st < 0)
        return Failed(r, QStringLiteral("not sent: %1").arg(StatusWords(vi, st, timeoutMs)));
    if (!IsScpiQuery(command))
        return r;

    // The reply's first two bytes tell a definite-length block ("#<n>")
    // from text, as the application reads its blocks.
    r.query = true;
    char head[16] = {};
    ViUInt32 got = 0;
    st = VisaRead(vi, reinterpret_cast<ViByte *>(head), 2, got);
    if (st < 0)
        return Failed(r, QStringLiteral("no reply: %1").arg(StatusWords(vi, st, timeoutMs)));
    const int digits = st == VI_SUCCESS_MAX_CNT ? blockLengthDigits(head, int(got)) : 0;
    if (digits == 0)
        return ReadText(vi, r, QByteArray(head, int(got)), st, timeoutMs);

    r.block = true;
    st = VisaRead(vi, reinterpret_cast<ViByte *>(head + 2), ViUInt32(digits), got);
    qint64 count = 0;
    if (st < 0 || !blockByteCount(head + 2, int(got), digits, &count))
        return Failed(r, QStringLiteral("block header \"%1\" without its byte count")
                             .arg(Escaped(QByteArray(head, 2 + int(got)))));
    r.blockBytes = count;
    if (count > MaxBlockBytes)
        return Failed(r, QStringLiteral("block of %1 bytes declared, more than the %2 read at most")
                             .arg(count)
                             .arg(MaxBlockBytes));
    return ReadBlockData(vi, r, st, count, rawFile, timeoutMs);
}

QString ScpiReplyText(const ScpiReply &reply)
{
    if (!reply.block) {
        QString text = Escaped(reply.shown);
        if (reply.notShown > 0)
            text += QStringLiteral(" ... (%1 more bytes not shown)").arg(reply.notShown);
        return text;
    }
    QString text = QStringLiteral("block of %1 bytes").arg(reply.blockBytes);
    if (!reply.rawFile.isEmpty())
        text += QStringLiteral(", written to %1").arg(reply.rawFile);
    qint64 shownBytes = 0;
    if (reply.blockBytes > 0 && reply.blockBytes % 4 == 0) {
        // The form the tool's instruments send: little-endian 32-bit floats.
        QStringList values;
        for (double v : decodeFloat32Le(reply.shown.left(4 * ShownValues), 4 * ShownValues))
            values << QString::number(v, 'g', 7);
        shownBytes = 4 * values.size();
        text += QStringLiteral(", float32: ") + values.join(QLatin1Char(' '));
    } else if (reply.blockBytes > 0) {
        const QByteArray first = reply.shown.left(ShownHexBytes);
        shownBytes = first.size();
        text += QStringLiteral(": ") + QString::fromLatin1(first.toHex(' '));
    }
    if (reply.blockBytes > shownBytes)
        text += QStringLiteral(" ...");
    return text;
}
