#include "shared/typednumber.h"

#include <cmath>

double TypedNumber(const QString &text, bool *ok)
{
    // QString::toDouble is locale-free and takes no group separators.
    bool parsed = false;
    double value = text.toDouble(&parsed);
    if (!parsed && text.count(QLatin1Char(',')) == 1 && !text.contains(QLatin1Char('.'))) {
        QString point = text;
        point.replace(QLatin1Char(','), QLatin1Char('.'));
        value = point.toDouble(&parsed);
    }
    const bool good = parsed && std::isfinite(value);
    if (ok)
        *ok = good;
    return good ? value : 0.0;
}

QString FieldNumber(double value)
{
    return QString::number(value, 'g', 6);
}

bool TypedCount(const QString &text, int *count)
{
    bool ok = false;
    const double value = TypedNumber(text, &ok);
    if (!ok || value < 1 || value > MaxMeasCount || value != std::floor(value))
        return false;
    *count = int(value);
    return true;
}
