#include "graph/statstext.h"

#include <cmath>

QString StatsNumber(double ms)
{
    return std::isfinite(ms) ? QString::number(ms, 'f', 3) : QStringLiteral("n/a");
}

QString PathStatsToolTip(const DelayPathInfo &info, const PathStats &s)
{
    const QString path = QLatin1String(info.label);
    const QString unit = QLatin1String(info.unit);
    if (!s.measured)
        return QStringLiteral("%1: not measured in this run").arg(path);
    QString text = QStringLiteral("%1: n = %2").arg(path).arg(s.n);
    if (s.missing > 0)
        text += QStringLiteral(" (%1 without a value)").arg(s.missing);
    if (s.n == 0)
        return text;
    return text
           + QStringLiteral("\nstandard deviation %1 %5\nminimum %2 %5, maximum %3 %5\n95th percentile %4 %5")
                 .arg(StatsNumber(s.sd), StatsNumber(s.min), StatsNumber(s.max), StatsNumber(s.p95), unit);
}

QStringList StatsRowNames()
{
    return {QStringLiteral("n (with a value)"),
            QStringLiteral("without a value"),
            QStringLiteral("mean"),
            QStringLiteral("standard deviation"),
            QStringLiteral("minimum"),
            QStringLiteral("maximum"),
            QStringLiteral("median"),
            QStringLiteral("5th percentile"),
            QStringLiteral("95th percentile"),
            QStringLiteral("95 % CI of the mean")};
}

QStringList StatsCells(const PathStats &s)
{
    if (!s.measured) {
        QStringList cells{QStringLiteral("not measured")};
        while (cells.size() < StatsRowNames().size())
            cells << QString();
        return cells;
    }
    const QString interval = std::isfinite(s.ciLow)
                                 ? QStringLiteral("%1 … %2").arg(StatsNumber(s.ciLow), StatsNumber(s.ciHigh))
                                 : StatsNumber(s.ciLow);
    return {QString::number(s.n), QString::number(s.missing), StatsNumber(s.mean), StatsNumber(s.sd),
            StatsNumber(s.min),   StatsNumber(s.max),         StatsNumber(s.median), StatsNumber(s.p5),
            StatsNumber(s.p95),   interval};
}
