#include "measurement/runfiles.h"

#include "measurement/delayscsv.h"
#include "measurement/resultsfile.h"
#include "measurement/runjson.h"
#include "measurement/runstats.h"
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
    return out;
}

namespace {

// Written under a temporary name and renamed on commit: never half a file.
bool WriteAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    file.write(bytes);
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace

RunFilesReport WriteRunFiles(const QString &dataDir, const QString &stamp, const RunOutcome &outcome,
                             bool withTraces)
{
    const RunRecord &run = outcome.record;
    RunFilesReport report;
    report.resultsFile = ResultsFileName(dataDir, stamp);
    report.traceFolder = QFileInfo(report.resultsFile).absolutePath();

    if (!WriteAtomically(report.resultsFile,
                         ResultsText(run.Src2RfArr(), outcome.avgSrc2Rf, run.Src2HdArr(), outcome.avgSrc2Hd, run.Src2SnkArr(),
                                     outcome.avgSrc2Snk),
                         &report.resultsError))
        return report;

    RunFileNames names;
    names.results = QFileInfo(report.resultsFile).fileName();
    if (withTraces) {
        auto save = [&report](const QString &name, const QVector<double> &d, int count) {
            ++report.traceFiles;
            QString why;
            if (SaveTraceFile(name, d, count, &why) == 0)
                return QFileInfo(name).fileName();
            if (report.traceFailed++ == 0)
                report.traceError = why;
            return QString();
        };
        for (int k = 1; k <= run.measurements.size(); ++k) {
            const KeptTraces &kept = run.measurements[k - 1].traces;
            names.traces.append(QStringList{
                save(TraceFileName(dataDir, stamp, k, TraceKind::Source), kept.src, kept.count),
                save(TraceFileName(dataDir, stamp, k, TraceKind::Rf), kept.rf, kept.count),
                save(TraceFileName(dataDir, stamp, k, TraceKind::Sink), kept.snk, kept.count)});
            QStringList paths;
            for (const QString &name : names.traces.last())
                paths << (name.isEmpty() ? QString() : QFileInfo(report.traceFolder, name).filePath());
            report.tracePaths.append(paths);
        }
    }

    report.csvFile = DelaysCsvFileName(dataDir, stamp);
    if (WriteAtomically(report.csvFile, DelaysCsv(run), &report.csvError))
        names.csv = QFileInfo(report.csvFile).fileName();

    report.recordFile = RunRecordFileName(dataDir, stamp);
    WriteAtomically(report.recordFile, RunRecordJson(run, ComputeRunStats(run), stamp, names), &report.recordError);
    return report;
}
