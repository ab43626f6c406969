#include "measurement/runreport.h"

#include "instruments/osctype.h"
#include "measurement/delaycalc.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace {

// A name the record gives is followed only as a file beside it: a record
// from elsewhere must not make the report read any other file.
bool PlainFileName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

} // namespace

ReportTraces RecordedLastTraces(const RecordedRun &run, const QString &folder)
{
    ReportTraces out;
    if (run.measurements.isEmpty()) {
        out.note = QStringLiteral("The run kept no measurement.");
        return out;
    }
    const RecordedMeasurement &last = run.measurements.last();
    const int index = last.index > 0 ? last.index : run.measurements.size();
    if (last.traceFiles.size() != 3) {
        out.note = QStringLiteral("The run saved no trace files.");
        return out;
    }
    const char *kinds[3] = {"source", "RF", "sink"};
    QVector<double> *into[3] = {&out.traces.traces.src, &out.traces.traces.rf, &out.traces.traces.snk};
    QStringList problems;
    for (int i = 0; i < 3; ++i) {
        const QString &name = last.traceFiles[i];
        if (name.isEmpty()) {
            problems << QStringLiteral("its %1 trace file was not written").arg(QLatin1String(kinds[i]));
            continue;
        }
        if (!PlainFileName(name)) {
            problems << QStringLiteral("its %1 trace file is named \"%2\", which is no file beside the record")
                            .arg(QLatin1String(kinds[i]), name);
            continue;
        }
        const QString path = QDir(folder).filePath(name);
        if (!QFileInfo(path).isFile()) {
            problems << QStringLiteral("%1 is not beside the record").arg(name);
            continue;
        }
        QString why;
        if (!ReadTraceFile(path, into[i], &why))
            problems << why;
    }
    if (out.traces.traces.src.isEmpty() && out.traces.traces.rf.isEmpty() && out.traces.traces.snk.isEmpty()) {
        out.note = QStringLiteral("The traces of measurement %1 cannot be shown: %2.")
                       .arg(index)
                       .arg(problems.isEmpty() ? QStringLiteral("its trace files are empty") : problems.join(QStringLiteral("; ")));
        return out;
    }
    out.index = index;
    KeptTraces &k = out.traces.traces;
    k.count = std::max({k.src.size(), k.rf.size(), k.snk.size()});
    // The record's own time axis; a record without one, the family's.
    if (std::isfinite(run.firstSampleTime) && std::isfinite(run.sampleInterval) && run.sampleInterval > 0) {
        out.traces.t.resize(k.count);
        for (int i = 0; i < k.count; ++i)
            out.traces.t[i] = run.firstSampleTime + i * run.sampleInterval;
    } else {
        out.traces.t = BuildTimeAxis(k.count, OscTypeOf(run.settings.osType));
    }
    if (!problems.isEmpty())
        out.note = QStringLiteral("Measurement %1: %2.").arg(index).arg(problems.join(QStringLiteral("; ")));
    return out;
}
