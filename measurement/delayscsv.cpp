#include "measurement/delayscsv.h"

#include "measurement/precisioncolumns.h"
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

QByteArray DelaysCsvHeader()
{
    QByteArray out;
    QStringList header{QStringLiteral("Measurement"), QStringLiteral("Time (ISO 8601)")};
    for (const DelayPathInfo &p : DelayPaths)
        header << QStringLiteral("%1 (%2)").arg(QLatin1String(p.label), QLatin1String(p.unit));
    header << QStringLiteral("Retaken before");
    for (const QString &title : PrecisionColumnTitles())
        header << QString(title).replace(QLatin1Char('\n'), QLatin1Char(' '));
    AppendRow(out, header);
    return out;
}

QByteArray DelaysCsvRow(const Measurement &m, const Calibration &calibration)
{
    QByteArray out;
    QStringList row{QString::number(m.index), RunRecordTime(m.acquired)};
    for (const DelayPathInfo &p : DelayPaths) {
        // The HDMI reading counts only where the analyzer gave one.
        const bool has = p.path != DelayPath::Src2Hd || m.hdGap == DelayGap::None;
        row << (has ? Cell(m.delay(p.path)) : QString());
    }
    row << QString::number(m.retakenBefore);
    for (double v : PrecisionColumnValues(m, calibration))
        row << Cell(v);
    AppendRow(out, row);
    return out;
}

QByteArray DelaysCsv(const RunRecord &run)
{
    QByteArray out;
    // About 250 bytes a row with the fine and corrected delays: one
    // allocation for a long run.
    out.reserve(512 + 256 * run.measurements.size());
    out += DelaysCsvHeader();
    for (const Measurement &m : run.measurements)
        out += DelaysCsvRow(m, run.calibration);
    return out;
}
