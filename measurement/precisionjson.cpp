#include "measurement/precisionjson.h"

#include <cmath>

namespace {

QJsonValue Number(double v)
{
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null);
}

QJsonValue Seconds(double s)
{
    return Number(s);
}

QJsonObject Budget(const DelayBudget &b)
{
    return {{QStringLiteral("interpolation"), Number(b.interpolation)},
            {QStringLiteral("timingNoise"), Number(b.timingNoise)},
            {QStringLiteral("timeBase"), Number(b.timeBase)},
            {QStringLiteral("calibration"), Number(b.calibration)}};
}

} // namespace

void AddMeasurementPrecision(QJsonObject &o, const Measurement &m, const Calibration &calibration)
{
    QJsonObject edges;
    edges[QStringLiteral("tsrcS")] = Seconds(m.fine.src.time);
    edges[QStringLiteral("trfS")] = Seconds(m.fine.rf.time);
    edges[QStringLiteral("tsnkS")] = Seconds(m.fine.snk.time);
    o[QStringLiteral("fineEdges")] = edges;

    QJsonObject fine, corrected, uncertainty;
    for (const DelayPathInfo &p : DelayPaths) {
        const QString key = QLatin1String(p.key);
        if (p.path != DelayPath::Src2Hd)
            fine[key] = Number(m.fineDelay(p.path));
        corrected[key] = Number(CorrectedDelay(m, p.path, calibration));
        uncertainty[key] = Number(MeasurementUncertainty(m, p.path, calibration));
    }
    o[QStringLiteral("fineMs")] = fine;
    o[QStringLiteral("correctedMs")] = corrected;
    o[QStringLiteral("uncertaintyMs")] = uncertainty;
}

void AddPathPrecision(QJsonObject &o, const MeanUncertainty &u)
{
    o[QStringLiteral("fineMean")] = Number(u.fineMean);
    o[QStringLiteral("correctedMean")] = Number(u.correctedMean);
    QJsonObject components{{QStringLiteral("statistical"), Number(u.statistical)},
                           {QStringLiteral("interpolation"), Number(u.interpolation)},
                           {QStringLiteral("timeBase"), Number(u.timeBase)},
                           {QStringLiteral("calibration"), Number(u.calibration)}};
    // Unknown components are null, the members there all the same.
    const double nan = std::nan("");
    const DelayBudget typical =
        std::isfinite(u.expanded) ? u.typical : DelayBudget{nan, nan, nan, nan};
    QJsonObject perMeasurement{{QStringLiteral("components"), Budget(typical)},
                               {QStringLiteral("largestExpanded"), Number(u.largestExpanded)}};
    o[QStringLiteral("uncertaintyMs")] = QJsonObject{
        {QStringLiteral("expanded"), Number(u.expanded)},
        {QStringLiteral("k"), Number(u.k)},
        {QStringLiteral("coverage"), 0.95},
        {QStringLiteral("effectiveDof"), Number(u.dof)},
        {QStringLiteral("combined"), Number(u.combined)},
        {QStringLiteral("components"), components},
        {QStringLiteral("perMeasurement"), perMeasurement},
    };
}

QJsonValue CalibrationRecord(const Calibration &calibration)
{
    return calibration.loaded ? QJsonValue(CalibrationObject(calibration)) : QJsonValue(QJsonValue::Null);
}
