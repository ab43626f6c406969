#include "measurement/uncertaintytext.h"

#include <cmath>

QString UncertaintyNumber(double ms, int decimals)
{
    if (!std::isfinite(ms))
        return QStringLiteral("-");
    const double unit = std::pow(10.0, -decimals);
    // What rounds to zero reads 0, never -0.
    return QString::number(std::fabs(ms) < unit / 2 ? 0.0 : ms, 'f', decimals);
}

QString UncertaintyBound(double ms, int decimals)
{
    if (!std::isfinite(ms))
        return QStringLiteral("-");
    const double scale = std::pow(10.0, decimals);
    // The last digit shown is rounded up: a stated uncertainty never claims more than was measured.
    return QString::number(std::ceil(ms * scale - 1e-9) / scale, 'f', decimals);
}

QStringList UncertaintyRowNames()
{
    return {QStringLiteral("fine mean"),
            QStringLiteral("calibration offset"),
            QStringLiteral("corrected mean"),
            QStringLiteral("U of mean (95 %)"),
            QStringLiteral("coverage factor k"),
            QStringLiteral("  statistical"),
            QStringLiteral("  interpolation"),
            QStringLiteral("  time base"),
            QStringLiteral("  calibration"),
            QStringLiteral("max U, one delay")};
}

QStringList UncertaintyCells(const MeanUncertainty &u, const PathCalibration &calibration)
{
    if (!u.measured) {
        QStringList cells{QStringLiteral("not measured")};
        while (cells.size() < UncertaintyRowNames().size())
            cells << QString();
        return cells;
    }
    const QString offset = calibration.set ? QStringLiteral("%1 +/- %2")
                                                 .arg(UncertaintyNumber(calibration.offsetMs),
                                                      UncertaintyNumber(calibration.uncertaintyMs))
                                           : QStringLiteral("none");
    return {UncertaintyNumber(u.fineMean),
            offset,
            UncertaintyNumber(u.correctedMean),
            UncertaintyBound(u.expanded),
            std::isfinite(u.k) ? QString::number(u.k, 'f', 2) : QStringLiteral("-"),
            UncertaintyBound(u.statistical),
            UncertaintyBound(u.interpolation),
            UncertaintyBound(u.timeBase),
            UncertaintyBound(u.calibration),
            UncertaintyBound(u.largestExpanded)};
}

QString UncertaintyLine(const DelayPathInfo &path, const MeanUncertainty &u)
{
    if (!u.measured || !std::isfinite(u.expanded))
        return QString();
    return QStringLiteral("%1: %2 %4 +/- %3 %4 (k = %5), corrected mean of %6")
        .arg(QLatin1String(path.label), UncertaintyNumber(u.correctedMean, 3), UncertaintyBound(u.expanded, 3),
             QLatin1String(path.unit), QString::number(u.k, 'f', u.k == 2.0 ? 0 : 2))
        .arg(u.n);
}

QString CalibrationSummary(const Calibration &calibration)
{
    return QStringLiteral("%1, time base %2 ppm")
        .arg(calibration.title(), QString::number(calibration.timeBasePpm, 'g', 6));
}
