#include "measurement/runprogress.h"

#include <QStringList>

#include <cmath>
#include <limits>

void RunTally::catchUp(const RunRecord &sofar)
{
    catchUp(sofar, sofar.measurements.size(), sofar.retakes.size());
}

void RunTally::catchUp(const RunRecord &sofar, int kept, int retaken)
{
    for (; kept_ < kept && kept_ < sofar.measurements.size(); ++kept_) {
        const Measurement &m = sofar.measurements[kept_];
        for (const DelayPathInfo &p : DelayPaths) {
            // The HDMI reading counts only where the option was on.
            if (p.path == DelayPath::Src2Hd) {
                if (m.hdGap == DelayGap::NotMeasured)
                    continue;
                hdMeasured_ = true;
            }
            const double v = m.delay(p.path);
            if (std::isfinite(v)) {
                sum_[int(p.path)] += v;
                ++n_[int(p.path)];
            }
        }
    }
    retaken_ = qMax(retaken_, qMin(retaken, sofar.retakes.size()));
}

double RunTally::mean(DelayPath path) const
{
    const int n = n_[int(path)];
    return n > 0 ? sum_[int(path)] / n : std::numeric_limits<double>::quiet_NaN();
}

RunProgress ProgressOf(int index, int count, const RunTally &tally, const RunRecord &sofar, qint64 elapsedMs)
{
    RunProgress p;
    p.index = index;
    p.count = count;
    p.kept = tally.kept();
    p.retaken = tally.retaken();
    p.meanRf = tally.mean(DelayPath::Src2Rf);
    p.meanHd = tally.mean(DelayPath::Src2Hd);
    p.meanSnk = tally.mean(DelayPath::Src2Snk);
    p.hdMeasured = tally.hdMeasured();
    // The retakes for the measurement under way: at most MaxRejectedInARow.
    for (int i = qMin(p.retaken, sofar.retakes.size()) - 1; i >= 0 && sofar.retakes[i].forMeasurement == index; --i)
        p.notTriggering = p.notTriggering || sofar.retakes[i].timedOut;
    p.secondsLeft = p.kept > 0 ? elapsedMs / 1000.0 / p.kept * (count - p.kept)
                               : std::numeric_limits<double>::quiet_NaN();
    return p;
}

RunProgress ProgressOf(int index, int count, const RunRecord &sofar, qint64 elapsedMs)
{
    RunTally tally;
    tally.catchUp(sofar);
    return ProgressOf(index, count, tally, sofar, elapsedMs);
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
