#include "measurement/runrecord.h"

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

namespace {

template <typename Field> QVector<double> Column(const QVector<Measurement> &ms, Field field)
{
    QVector<double> out;
    out.reserve(ms.size());
    for (const Measurement &m : ms)
        out.append(m.*field);
    return out;
}

} // namespace

QVector<double> RunRecord::Src2RfArr() const { return Column(measurements, &Measurement::src2Rf); }
QVector<double> RunRecord::Src2HdArr() const { return Column(measurements, &Measurement::src2Hd); }
QVector<double> RunRecord::Src2SnkArr() const { return Column(measurements, &Measurement::src2Snk); }

QString RetakeReasonText(RetakeReason reason)
{
    switch (reason) {
    case RetakeReason::NoNewTrace:
        return QStringLiteral("no new trace");
    case RetakeReason::OutsideWindow:
        return QStringLiteral("first sample outside the window");
    }
    return QString();
}

QString DelayGapText(DelayGap gap)
{
    switch (gap) {
    case DelayGap::None:
        return QString();
    case DelayGap::EdgeNotFound:
        return QStringLiteral("edge not found");
    case DelayGap::TraceNotRead:
        return QStringLiteral("trace not read");
    case DelayGap::NotMeasured:
        return QStringLiteral("not measured");
    case DelayGap::NoReading:
        return QStringLiteral("no reading");
    }
    return QString();
}

QString RunSummary(const RunRecord &run)
{
    const int kept = run.measurements.size();
    QString text;
    switch (run.end) {
    case RunEnd::Completed:
        text = QStringLiteral("%1 of %2 measurements").arg(kept).arg(run.requested);
        break;
    case RunEnd::Canceled:
        text = QStringLiteral("Canceled after %1 of %2 measurements").arg(kept).arg(run.requested);
        break;
    case RunEnd::Interrupted:
        text = QStringLiteral("Interrupted after %1 of %2 measurements").arg(kept).arg(run.requested);
        break;
    case RunEnd::Rejected:
    case RunEnd::ConnectionLost:
    case RunEnd::SpoolFailed:
        text = QStringLiteral("Stopped after %1 of %2 measurements: %3").arg(kept).arg(run.requested).arg(run.endReason);
        break;
    }
    if (run.retakes.isEmpty())
        return text;
    int noTrace = 0;
    int outside = 0;
    for (const Retake &r : run.retakes)
        (r.reason == RetakeReason::NoNewTrace ? noTrace : outside)++;
    QStringList why;
    if (outside > 0)
        why << QStringLiteral("%1 %2").arg(outside).arg(RetakeReasonText(RetakeReason::OutsideWindow));
    if (noTrace > 0)
        why << QStringLiteral("%1 %2").arg(noTrace).arg(RetakeReasonText(RetakeReason::NoNewTrace));
    return QStringLiteral("%1; %2 acquisition%3 taken again (%4)")
        .arg(text)
        .arg(run.retakes.size())
        .arg(run.retakes.size() == 1 ? QString() : QStringLiteral("s"))
        .arg(why.join(QStringLiteral(", ")));
}
