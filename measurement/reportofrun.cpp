#include "measurement/runreport.h"

#include "measurement/runjson.h"
#include "measurement/runstats.h"
#include "measurement/tracefiles.h"

#include <QFileInfo>

ReportInput ReportOfRun(const RunRecord &run, const MeasurementTraces &last)
{
    // Through the record's own text: the report of a run in memory says
    // what its record says.
    RunFileNames names;
    QString folder;
    const bool traced = RunWroteTraceFiles(run);
    for (int k = 1; traced && k <= run.measurements.size(); ++k) {
        const QStringList paths = MeasurementTracePaths(run, k);
        QStringList files;
        for (const QString &path : paths) {
            files << (path.isEmpty() ? QString() : QFileInfo(path).fileName());
            if (!path.isEmpty())
                folder = QFileInfo(path).absolutePath();
        }
        names.traces << files;
    }
    ReportInput input;
    QString error;
    ParseRecordedRun(RunRecordJson(run, ComputeRunStats(run), QString(), names), &input.run, &error);
    if (!run.measurements.isEmpty() && !last.traces.src.isEmpty()) {
        input.traces.index = run.measurements.last().index;
        input.traces.traces = last;
    } else {
        input.traces = RecordedLastTraces(input.run, folder);
    }
    return input;
}
