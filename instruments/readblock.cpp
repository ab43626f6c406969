#include "instruments/readblock.h"

#include "instruments/blockread.h"
#include "instruments/visasession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

const char TraceSpoolFile[] = "Trace.tmp";

namespace {

BlockRead Failed(BlockFailure failure, ViStatus status)
{
    BlockRead r;
    r.failure = failure;
    r.status = status;
    return r;
}

// VISA only says that the file could not be opened or written; the file
// system says why. The probe never leaves a file behind.
QString SpoolFileError(const QString &spoolFile, const QString &reason)
{
    const QFileInfo info(spoolFile);
    QString why = reason;
    if (why.isEmpty()) {
        QFile probe(info.absoluteFilePath());
        const bool existed = probe.exists();
        if (probe.open(QIODevice::WriteOnly)) {
            probe.close();
            why = QStringLiteral("the file could not be written");
        } else {
            why = probe.errorString();
        }
        if (!existed)
            QFile::remove(info.absoluteFilePath());
    }
    return QStringLiteral("%1 in %2: %3")
        .arg(info.fileName(), QDir::toNativeSeparators(info.absolutePath()), why);
}

// The first count / 4 samples, decoded in pieces straight into the vector:
// never a second whole copy of the block in memory.
bool DecodeSpool(QFile &file, qint64 count, QVector<double> *out)
{
    const qint64 samples = count / 4;
    out->clear();
    out->reserve(int(samples));
    QByteArray chunk;
    constexpr qint64 ChunkBytes = 1 << 20;
    qint64 left = samples * 4;
    while (left > 0) {
        chunk = file.read(qMin(left, ChunkBytes));
        if (chunk.isEmpty() || chunk.size() % 4 != 0)
            return false;
        out->append(decodeFloat32Le(chunk, chunk.size()));
        left -= chunk.size();
    }
    return true;
}

} // namespace

BlockRead ReadBlock(ViSession hdl, const QByteArray &cmd, QVector<double> *arr)
{
    return ReadBlock(hdl, cmd, arr, QString::fromLatin1(TraceSpoolFile));
}

BlockRead ReadBlock(ViSession hdl, const QByteArray &cmd, QVector<double> *arr, const QString &spoolFile)
{
    if (!arr)
        return Failed(BlockFailure::Header, VI_ERROR_USER_BUF);
    if (!cmd.isEmpty()) {
        const ViStatus status = VisaWrite(hdl, reinterpret_cast<const ViByte *>(cmd.constData()),
                                          ViUInt32(cmd.size()), VI_NULL);
        if (status != VI_SUCCESS)
            return Failed(BlockFailure::Command, status);
    }

    // Completion codes such as VI_SUCCESS_MAX_CNT are normal for these reads:
    // only a negative status is a failure.
    char buf[100] = {};
    ViUInt32 got = 0;
    ViStatus status = VisaRead(hdl, reinterpret_cast<ViByte *>(buf), 2, got);
    if (status < 0)
        return Failed(BlockFailure::Header, status);
    const int n = blockLengthDigits(buf, int(got));
    if (n == 0)
        return Failed(BlockFailure::Header, VI_SUCCESS);
    status = VisaRead(hdl, reinterpret_cast<ViByte *>(buf), ViUInt32(n), got);
    if (status < 0)
        return Failed(BlockFailure::Header, status);
    qint64 count = 0;
    if (!blockByteCount(buf, int(got), n, &count))
        return Failed(BlockFailure::Header, VI_SUCCESS);
    if (count > MaxBlockBytes) {
        BlockRead r = Failed(BlockFailure::TooLarge, VI_SUCCESS);
        r.declaredBytes = count;
        return r;
    }

    // Ten bytes more than the data: the read stops at the end of the
    // message, so the file gets the data and the terminator after it.
    BlockRead r;
    r.declaredBytes = count;
    status = VisaReadToFile(hdl, spoolFile, ViUInt32(count + 10), got);
    if (status == VI_ERROR_FILE_ACCESS || status == VI_ERROR_FILE_IO) {
        r.failure = BlockFailure::SpoolFile;
        r.status = status;
        r.spoolError = SpoolFileError(spoolFile, QString());
    } else if (status < 0) {
        r.failure = BlockFailure::Transfer;
        r.status = status;
    } else {
        QFile file(spoolFile);
        QVector<double> samples;
        if (!file.open(QIODevice::ReadOnly)) {
            r.failure = BlockFailure::SpoolFile;
            r.spoolError = SpoolFileError(spoolFile, file.errorString());
        } else if (file.size() < count || !DecodeSpool(file, count, &samples)) {
            // A short transfer is no trace: keep the caller's previous one.
            r.failure = BlockFailure::Transfer;
        } else {
            *arr = std::move(samples);
            r.ok = true;
        }
    }
    QFile::remove(spoolFile);
    return r;
}
