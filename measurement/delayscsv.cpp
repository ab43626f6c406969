#include "measurement/delayscsv.h"

#include "measurement/runjson.h"

#include <QLocale>
#include <QStringList>

#include <cmath>
#include <limits>

namespace {

QString Cell(double v)
{
    return std::isfinite(v) ? QString::number(v, 'g', QLocale::FloatingPointShortest) : QString();
}

void AppendRow(QByteArray &out, const QStringList &fields)
{
    for (int i = 0; i < fields.size(); ++i) {
        if (i > 0)
            out += ',';
        out += CsvField(fields[i]);
    }
    out += "\r\n";
}

} // namespace

QByteArray CsvField(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r')))
        return utf8;
    QByteArray quoted = utf8;
    quoted.replace('"', "\"\"");
    return '"' + quoted + '"';
}

QByteArray DelaysCsv(const RunRecord &run)
{
    QByteArray out;
    // About 90 bytes a row: one allocation for a long run.
    out.reserve(128 + 96 * run.measurements.size());
    AppendRow(out, {QStringLiteral("Measurement"), QStringLiteral("Time (ISO 8601)"),
                    QStringLiteral("Source->RF (ms)"), QStringLiteral("Source->HDMI (ms)"),
                    QStringLiteral("Source->Sink (ms)"), QStringLiteral("Retaken before")});
    for (const Measurement &m : run.measurements) {
        // The HDMI reading counts only where the analyzer gave one.
        const double hd = m.hdGap == DelayGap::None ? m.src2Hd : std::numeric_limits<double>::quiet_NaN();
        AppendRow(out, {QString::number(m.index), RunRecordTime(m.acquired), Cell(m.src2Rf), Cell(hd),
                        Cell(m.src2Snk), QString::number(m.retakenBefore)});
    }
    return out;
}
