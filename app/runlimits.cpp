#include "app/runlimits.h"

#include "measurement/uncertaintytext.h"

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

double FigureOf(LimitFigure figure, const PathStats &p)
{
    if (!p.measured || p.n == 0)
        return std::nan("");
    switch (figure) {
    case LimitFigure::Mean:
        return p.mean;
    case LimitFigure::Median:
        return p.median;
    case LimitFigure::P95:
        return p.p95;
    case LimitFigure::Max:
        break;
    }
    return p.max;
}

} // namespace

LimitCheck CheckLimit(const Limit &limit, const RunStats &stats)
{
    LimitCheck check;
    check.limit = limit;
    check.value = FigureOf(limit.figure, stats.of(limit.path));
    check.exceeded = !(check.value <= limit.maxMs); // NaN too
    return check;
}

LimitCheck CheckGuardedLimit(const Limit &limit, const RunRecord &run)
{
    LimitCheck check;
    check.limit = limit;
    check.guarded = true;
    const MeanUncertainty u = PathUncertainty(run, limit.path);
    QVector<double> corrected;
    for (const Measurement &m : run.measurements)
        corrected.append(CorrectedDelay(m, limit.path, run.calibration));
    PathStats stats = ComputePathStats(corrected);
    stats.measured = u.measured;
    check.value = FigureOf(limit.figure, stats);
    // A percentile or the largest value is as uncertain as a single delay.
    check.uncertainty = limit.figure == LimitFigure::Mean ? u.expanded : u.largestExpanded;
    if (std::isnan(check.value))
        check.exceeded = true;
    else if (std::isnan(check.uncertainty))
        check.inconclusive = true;
    else if (check.value - check.uncertainty > limit.maxMs)
        check.exceeded = true;
    else if (!(check.value + check.uncertainty <= limit.maxMs))
        check.inconclusive = true;
    return check;
}

QString LimitCheckText(const LimitCheck &check)
{
    const QString name = LimitName(check.limit);
    if (std::isnan(check.value))
        return QStringLiteral("%1 has no value: limit %2 not met").arg(name, Ms(check.limit.maxMs));
    if (check.guarded) {
        const QString corrected = QStringLiteral("%1 (corrected)").arg(name);
        if (std::isnan(check.uncertainty))
            return QStringLiteral("%1 %2 has no uncertainty: inconclusive against %3")
                .arg(corrected, Figure(check.value), Ms(check.limit.maxMs));
        const QString figure = QStringLiteral("%1 +/- %2 ms")
                                   .arg(Figure(check.value), UncertaintyBound(check.uncertainty, 3));
        if (check.exceeded)
            return QStringLiteral("%1 %2 exceeds %3").arg(corrected, figure, Ms(check.limit.maxMs));
        if (check.inconclusive)
            return QStringLiteral("%1 %2: inconclusive against %3").arg(corrected, figure, Ms(check.limit.maxMs));
        return QStringLiteral("%1 %2 <= %3: met").arg(corrected, figure, Ms(check.limit.maxMs));
    }
    if (check.exceeded)
        return QStringLiteral("%1 %2 exceeds %3").arg(name, Figure(check.value), Ms(check.limit.maxMs));
    return QStringLiteral("%1 %2 <= %3: met").arg(name, Figure(check.value), Ms(check.limit.maxMs));
}
