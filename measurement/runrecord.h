// What one run keeps of its accepted measurements: the delays and, for the
// trace files, each measurement's own three traces.
#pragma once

#include <QDateTime>
#include <QString>
#include <QVector>

#include <functional>

// The source and sink traces arrive as float32 samples widened to double, so
// keeping them as float is lossless and halves their memory; the RF trace is
// scaled in double and kept as it is. At 20000 points a measurement takes
// 320 kB, 1000 measurements about 320 MB.
struct KeptTraces
{
    int count = 0; // the measurement's sample count, the count of its trace files
    QVector<float> src;
    QVector<double> rf;
    QVector<float> snk;
};

KeptTraces KeepTraces(int count, const QVector<double> &d1, const QVector<double> &d2, const QVector<double> &d3);
QVector<double> Widen(const QVector<float> &samples);

struct RunRecord
{
    QVector<double> Src2RfArr;  // ms, NaN where an edge was not found
    QVector<double> Src2HdArr;  // the video analyzer's reading; 0 with the option off, NaN when it failed
    QVector<double> Src2SnkArr; // ms, NaN where an edge was not found
    QVector<KeptTraces> traces;
};

// Writes the results file atomically, then the trace files of every
// measurement under its own index through saveBin (which returns -1 for a
// file it could not write; such a file is skipped). Returns 0, or -1 when the
// results file could not be written, in which case no trace file is written.
int WriteRunFiles(const QString &dataDir, const QString &stamp, const RunRecord &run,
                  double avgSrc2Rf, double avgSrc2Hd, double avgSrc2Snk,
                  const std::function<int(const QString &, const QVector<double> &, int)> &saveBin);
