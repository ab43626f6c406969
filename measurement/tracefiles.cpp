#include "measurement/tracefiles.h"

#include "measurement/delaycalc.h"
#include "measurement/resultsfile.h"
#include "measurement/tracefileformat.h"

#include <QDir>
#include <QFile>

bool ReadTraceFile(const QString &path, QVector<double> *out, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    // The size is checked before anything is read: the file may be anyone's.
    if (file.size() > MaxTraceFileBytes) {
        *error = QStringLiteral("%1 holds %2 bytes, more than a trace can have")
                     .arg(QDir::toNativeSeparators(path))
                     .arg(file.size());
        return false;
    }
    const QByteArray bytes = file.read(MaxTraceFileBytes);
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("cannot read %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    *out = DecodeTrace(bytes);
    return true;
}

QStringList MeasurementTracePaths(const RunRecord &run, int index)
{
    if (!run.traceFiles.isEmpty())
        return run.traceFiles.value(index - 1);
    if (index < 1 || index > run.measurements.size() || run.filesAt.isEmpty())
        return QStringList();
    const Measurement &m = run.measurements[index - 1];
    if (m.traceFiles == 0)
        return QStringList();
    QStringList paths;
    for (TraceKind kind : TraceKinds)
        paths << ((m.traceFiles & TraceFileBit(kind)) ? TraceFileName(run.filesAt, QString(), m.index, kind) : QString());
    return paths;
}

bool RunWroteTraceFiles(const RunRecord &run)
{
    if (!run.traceFiles.isEmpty())
        return true;
    for (const Measurement &m : run.measurements)
        if (m.traceFiles != 0)
            return true;
    return false;
}

bool LoadMeasurementTraces(const RunRecord &run, int index, MeasurementTraces *out, QString *error)
{
    if (index < 1 || index > run.measurements.size()) {
        *error = QStringLiteral("the run has no measurement %1").arg(index);
        return false;
    }
    if (!RunWroteTraceFiles(run)) {
        *error = QStringLiteral("the run saved no trace files");
        return false;
    }
    const QStringList files = MeasurementTracePaths(run, index);
    if (files.size() != 3 || files.contains(QString())) {
        *error = QStringLiteral("the trace files of measurement %1 were not written").arg(index);
        return false;
    }
    MeasurementTraces loaded;
    if (!ReadTraceFile(files[0], &loaded.traces.src, error) || !ReadTraceFile(files[1], &loaded.traces.rf, error)
        || !ReadTraceFile(files[2], &loaded.traces.snk, error))
        return false;
    loaded.traces.count = loaded.traces.src.size();
    loaded.t = BuildTimeAxis(loaded.traces.count, OscTypeOf(run.settings.osType));
    *out = loaded;
    return true;
}
