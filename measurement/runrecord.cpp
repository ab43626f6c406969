#include "measurement/runrecord.h"

#include <cmath>
#include <limits>

double Measurement::delay(DelayPath path) const
{
    return ForPath(path, src2Rf, src2Hd, src2Snk);
}

DelayGap Measurement::gap(DelayPath path) const
{
    return ForPath(path, rfGap, hdGap, snkGap);
}

double Measurement::fineDelay(DelayPath path) const
{
    // The RF edge is searched only after a source edge, so a found RF edge
    // always has its source edge.
    if (path == DelayPath::Src2Hd || !std::isfinite(delay(path)))
        return std::numeric_limits<double>::quiet_NaN();
    const FineEdge &edge = path == DelayPath::Src2Rf ? fine.rf : fine.snk;
    return (edge.time - fine.src.time) * 1000.0;
}

QVector<double> RunRecord::DelayArr(DelayPath path) const
{
    QVector<double> out;
    out.reserve(measurements.size());
    for (const Measurement &m : measurements)
        out.append(m.delay(path));
    return out;
}

QVector<double> RunRecord::Src2RfArr() const { return DelayArr(DelayPath::Src2Rf); }
QVector<double> RunRecord::Src2HdArr() const { return DelayArr(DelayPath::Src2Hd); }
QVector<double> RunRecord::Src2SnkArr() const { return DelayArr(DelayPath::Src2Snk); }

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
