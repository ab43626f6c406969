#include "measurement/loadtraces.h"

#include "instruments/readblock.h"
#include "measurement/tracefileformat.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace {

// The longest trace a block read can bring, as float64.
constexpr qint64 MaxTraceFileBytes = MaxBlockBytes / 4 * 8;

bool ReadTrace(const QString &path, QVector<double> *out, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    if (file.size() > MaxTraceFileBytes) {
        *error = QStringLiteral("%1 is longer than any trace").arg(QDir::toNativeSeparators(path));
        return false;
    }
    *out = DecodeTrace(file.read(MaxTraceFileBytes));
    return true;
}

} // namespace

QString MeasurementTraceFile(const RunRecord &run, const Measurement &m, TraceKind kind)
{
    if (run.filesAt.isEmpty() || !(m.traceFiles & TraceFileBit(kind)))
        return QString();
    return TraceFileName(run.filesAt, QString(), m.index, kind);
}

bool LoadMeasurementTraces(const RunRecord &run, int index, KeptTraces *traces, QString *error)
{
    const auto it = std::lower_bound(run.measurements.begin(), run.measurements.end(), index,
                                     [](const Measurement &m, int i) { return m.index < i; });
    if (it == run.measurements.end() || it->index != index) {
        *error = QStringLiteral("the run has no measurement %1").arg(index);
        return false;
    }
    if (it->traceFiles == 0) {
        *error = QStringLiteral("no trace files were written for measurement %1").arg(index);
        return false;
    }
    KeptTraces out;
    QVector<double> *into[] = {&out.src, &out.rf, &out.snk};
    for (int k = 0; k < 3; ++k) {
        const QString path = MeasurementTraceFile(run, *it, TraceKinds[k]);
        if (!path.isEmpty() && !ReadTrace(path, into[k], error))
            return false;
    }
    out.count = out.src.size();
    *traces = out;
    return true;
}
