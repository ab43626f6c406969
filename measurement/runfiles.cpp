#include "measurement/runfiles.h"

#include "measurement/runwriter.h"
#include "measurement/tracefiles.h"
#include "measurement/tracefileformat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

int SaveTraceFile(const QString &fnam, const QVector<double> &d, int count, QString *error)
{
    QFile file(fnam);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return -1;
    }
    const QByteArray bytes = EncodeTrace(d, count);
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    if (!written && error)
        *error = file.errorString();
    file.close();
    return written ? 0 : -1;
}

QStringList RunFilesReport::problems() const
{
    QStringList out;
    if (!resultsError.isEmpty())
        out << QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(resultsFile), resultsError);
    if (!csvError.isEmpty())
        out << QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(csvFile), csvError);
    if (!recordError.isEmpty())
        out << QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(recordFile), recordError);
    if (traceFailed > 0)
        out << QStringLiteral("Could not write %1 of %2 trace files in %3: %4")
                   .arg(traceFailed)
                   .arg(traceFiles)
                   .arg(QDir::toNativeSeparators(traceFolder), traceError);
    if (!journalError.isEmpty())
        out << QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(journalFile), journalError);
    return out;
}

bool WriteAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    return WriteAtomically(path, [&bytes](QIODevice *out) { return out->write(bytes) == bytes.size(); }, error);
}

bool WriteAtomically(const QString &path, const std::function<bool(QIODevice *)> &write, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    // A failed write leaves the file's error for commit() to report.
    if (!write(&file))
        file.cancelWriting();
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

RunFilesReport WriteRunFiles(const QString &dataDir, const QString &stamp, const RunOutcome &outcome,
                             bool withTraces)
{
    RunOutcome written = outcome;
    RunRecord &run = written.record;
    RunWriter writer;
    writer.beginAt(dataDir, stamp, run, withTraces);
    int retake = 0;
    for (Measurement &m : run.measurements) {
        for (; retake < run.retakes.size() && run.retakes[retake].forMeasurement <= m.index; ++retake)
            writer.retaken(run.retakes[retake]);
        writer.kept(m, m.traces);
    }
    for (; retake < run.retakes.size(); ++retake)
        writer.retaken(run.retakes[retake]);
    RunFilesReport report = writer.finish(written);
    if (withTraces) {
        run.filesAt = writer.filesAt();
        for (int k = 1; k <= run.measurements.size(); ++k) {
            QStringList paths;
            for (const QString &path : MeasurementTracePaths(run, k))
                paths << (path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath());
            report.tracePaths.append(paths.isEmpty() ? QStringList{QString(), QString(), QString()} : paths);
        }
    }
    return report;
}
