#include "measurement/runprogress.h"

#include "measurement/delaycalc.h"

#include <QStringList>

#include <cmath>
#include <limits>

RunProgress ProgressOf(int index, int count, const RunRecord &sofar, qint64 elapsedMs)
{
    RunProgress p;
    p.index = index;
    p.count = count;
    p.kept = sofar.measurements.size();
    p.retaken = sofar.retakes.size();
    p.meanRf = FiniteMean(sofar.Src2RfArr());
    p.meanSnk = FiniteMean(sofar.Src2SnkArr());
    QVector<double> hd;
    for (const Measurement &m : sofar.measurements)
        if (m.hdGap != DelayGap::NotMeasured)
            hd.append(m.src2Hd);
    p.hdMeasured = !hd.isEmpty();
    p.meanHd = FiniteMean(hd);
    for (int i = sofar.retakes.size() - 1; i >= 0 && sofar.retakes[i].forMeasurement == index; --i)
        p.notTriggering = p.notTriggering || sofar.retakes[i].timedOut;
    p.secondsLeft = p.kept > 0 ? elapsedMs / 1000.0 / p.kept * (count - p.kept)
                               : std::numeric_limits<double>::quiet_NaN();
    return p;
}

QString RunningMeansText(const RunProgress &p)
{
    auto ms = [](double v) { return std::isfinite(v) ? QString::number(v, 'f', 1) + QStringLiteral(" ms") : QStringLiteral("nan"); };
    if (p.kept == 0)
        return QStringLiteral("no value yet");
    auto label = [](DelayPath path) { return QLatin1String(PathInfo(path).label); };
    QStringList parts{QStringLiteral("%1 %2").arg(label(DelayPath::Src2Rf), ms(p.meanRf))};
    if (p.hdMeasured)
        parts << QStringLiteral("%1 %2").arg(label(DelayPath::Src2Hd), ms(p.meanHd));
    parts << QStringLiteral("%1 %2").arg(label(DelayPath::Src2Snk), ms(p.meanSnk));
    return parts.join(QStringLiteral(", "));
}

QString TimeLeftText(const RunProgress &p)
{
    if (!std::isfinite(p.secondsLeft))
        return QString();
    const double s = p.secondsLeft;
    if (s < 90)
        return QStringLiteral("about %1 s left").arg(qRound(s));
    if (s < 90 * 60)
        return QStringLiteral("about %1 min left").arg(qRound(s / 60));
    return QStringLiteral("about %1 h left").arg(s / 3600, 0, 'f', 1);
}

QString TriggerHintText(const RunProgress &p)
{
    if (!p.notTriggering)
        return QString();
    return QStringLiteral("no acquisition is triggering: check the trigger level and the source signal");
}
