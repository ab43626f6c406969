#include "measurement/runrecord.h"
#include "measurement/resultsfile.h"

#include <QSaveFile>

KeptTraces KeepTraces(int count, const QVector<double> &d1, const QVector<double> &d2, const QVector<double> &d3)
{
    KeptTraces kept;
    kept.count = count;
    kept.src.reserve(d1.size());
    for (double v : d1)
        kept.src.append(float(v));
    kept.rf = d2;
    kept.snk.reserve(d3.size());
    for (double v : d3)
        kept.snk.append(float(v));
    return kept;
}

QVector<double> Widen(const QVector<float> &samples)
{
    QVector<double> out;
    out.reserve(samples.size());
    for (float v : samples)
        out.append(double(v));
    return out;
}

int WriteRunFiles(const QString &dataDir, const QString &stamp, const RunRecord &run,
                  double avgSrc2Rf, double avgSrc2Hd, double avgSrc2Snk,
                  const std::function<int(const QString &, const QVector<double> &, int)> &saveBin)
{
    // Written under a temporary name and renamed on commit: never half a file.
    QSaveFile results(ResultsFileName(dataDir, stamp));
    if (!results.open(QIODevice::WriteOnly))
        return -1;
    results.write(ResultsText(run.Src2RfArr, avgSrc2Rf, run.Src2HdArr, avgSrc2Hd, run.Src2SnkArr, avgSrc2Snk));
    if (!results.commit())
        return -1;

    for (int k = 1; k <= run.traces.size(); ++k) {
        const KeptTraces &kept = run.traces[k - 1];
        saveBin(TraceFileName(dataDir, stamp, k, TraceKind::Source), Widen(kept.src), kept.count);
        saveBin(TraceFileName(dataDir, stamp, k, TraceKind::Rf), kept.rf, kept.count);
        saveBin(TraceFileName(dataDir, stamp, k, TraceKind::Sink), Widen(kept.snk), kept.count);
    }
    return 0;
}
