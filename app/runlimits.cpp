#include "app/runlimits.h"

#include <cmath>

namespace {

// The run's figure as the statistics table gives it; the limit as typed.
QString Figure(double v)
{
    return QString::number(v, 'f', 3) + QStringLiteral(" ms");
}

QString Ms(double v)
{
    return QString::number(v, 'g', 6) + QStringLiteral(" ms");
}

} // namespace

LimitCheck CheckLimit(const Limit &limit, const RunStats &stats)
{
    const PathStats &p = stats.of(limit.path);
    LimitCheck check;
    check.limit = limit;
    if (!p.measured || p.n == 0) {
        check.value = std::nan("");
    } else {
        switch (limit.figure) {
        case LimitFigure::Mean:
            check.value = p.mean;
            break;
        case LimitFigure::Median:
            check.value = p.median;
            break;
        case LimitFigure::P95:
            check.value = p.p95;
            break;
        case LimitFigure::Max:
            check.value = p.max;
            break;
        }
    }
    check.exceeded = !(check.value <= limit.maxMs); // NaN too
    return check;
}

QString LimitCheckText(const LimitCheck &check)
{
    const QString name = LimitName(check.limit);
    if (std::isnan(check.value))
        return QStringLiteral("%1 has no value: limit %2 not met").arg(name, Ms(check.limit.maxMs));
    if (check.exceeded)
        return QStringLiteral("%1 %2 exceeds %3").arg(name, Figure(check.value), Ms(check.limit.maxMs));
    return QStringLiteral("%1 %2 <= %3: met").arg(name, Figure(check.value), Ms(check.limit.maxMs));
}
