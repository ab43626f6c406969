#include "measurement/precisioncolumns.h"

#include "measurement/uncertainty.h"

QStringList PrecisionColumnTitles()
{
    QStringList titles;
    for (const DelayPathInfo &p : DelayPaths)
        if (p.path != DelayPath::Src2Hd)
            titles << QStringLiteral("Fine\n%1 (%2)").arg(QLatin1String(p.label), QLatin1String(p.unit));
    for (const DelayPathInfo &p : DelayPaths) {
        titles << QStringLiteral("Corrected\n%1 (%2)").arg(QLatin1String(p.label), QLatin1String(p.unit));
        titles << QStringLiteral("U (k = 2)\n%1 (%2)").arg(QLatin1String(p.label), QLatin1String(p.unit));
    }
    return titles;
}

QVector<double> PrecisionColumnValues(const Measurement &m, const Calibration &calibration)
{
    QVector<double> values;
    for (const DelayPathInfo &p : DelayPaths)
        if (p.path != DelayPath::Src2Hd)
            values << m.fineDelay(p.path);
    for (const DelayPathInfo &p : DelayPaths)
        values << CorrectedDelay(m, p.path, calibration) << MeasurementUncertainty(m, p.path, calibration);
    return values;
}
