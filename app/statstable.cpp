#include "app/statstable.h"

#include "measurement/uncertaintytext.h"

#include <QStringList>

#include <cmath>

namespace {

constexpr int NameWidth = 18;
constexpr int ColumnWidth = 20;

QString Value(double v)
{
    if (!std::isfinite(v))
        return QStringLiteral("-");
    // What rounds to zero reads "0.000", never "-0.000" or "+0.000".
    return QString::number(std::fabs(v) < 0.0005 ? 0.0 : v, 'f', 3);
}

QString Signed(double v)
{
    const QString text = Value(v);
    return v >= 0.0005 ? QLatin1Char('+') + text : text;
}

QString Row(const QString &name, const QStringList &cells)
{
    QString line = name.leftJustified(NameWidth);
    for (const QString &c : cells)
        line += QLatin1Char(' ') + c.rightJustified(ColumnWidth - 1); // never run together
    return line + QLatin1Char('\n');
}

struct Column
{
    QString name;
    PathStats stats;
};

QString Label(const DelayPathInfo &p)
{
    return QLatin1String(p.label);
}

QString Interval(const PathStats &p)
{
    if (!std::isfinite(p.ciLow))
        return QStringLiteral("-");
    return Value(p.ciLow) + QStringLiteral(" .. ") + Value(p.ciHigh);
}

} // namespace

QString RunStatsTable(const RunStats &stats)
{
    QVector<Column> cols;
    for (const DelayPathInfo &p : DelayPaths)
        if (stats.of(p.path).measured)
            cols.append({Label(p), stats.of(p.path)});

    auto row = [&cols](const QString &name, auto cell) {
        QStringList cells;
        for (const Column &c : cols)
            cells << cell(c.stats);
        return Row(name, cells);
    };
    QStringList heads;
    for (const Column &c : cols)
        heads << c.name;
    QString out = Row(QStringLiteral("(ms)"), heads);
    out += row(QStringLiteral("n"), [](const PathStats &p) { return QString::number(p.n); });
    out += row(QStringLiteral("missing"), [](const PathStats &p) { return QString::number(p.missing); });
    out += row(QStringLiteral("mean"), [](const PathStats &p) { return Value(p.mean); });
    out += row(QStringLiteral("sd"), [](const PathStats &p) { return Value(p.sd); });
    out += row(QStringLiteral("min"), [](const PathStats &p) { return Value(p.min); });
    out += row(QStringLiteral("median"), [](const PathStats &p) { return Value(p.median); });
    out += row(QStringLiteral("p5"), [](const PathStats &p) { return Value(p.p5); });
    out += row(QStringLiteral("p95"), [](const PathStats &p) { return Value(p.p95); });
    out += row(QStringLiteral("max"), [](const PathStats &p) { return Value(p.max); });
    out += row(QStringLiteral("95 % CI of mean"), Interval);
    return out;
}

QString UncertaintyTable(const RunRecord &run)
{
    const RunUncertainty u = ComputeRunUncertainty(run);
    QVector<DelayPathInfo> paths;
    for (const DelayPathInfo &p : DelayPaths)
        if (u.of(p.path).measured)
            paths.append(p);
    QStringList heads;
    for (const DelayPathInfo &p : paths)
        heads << Label(p);
    QString out = QStringLiteral("Fine and corrected delays (%1)\n").arg(CalibrationSummary(run.calibration));
    out += Row(QStringLiteral("(ms)"), heads);
    QVector<QStringList> cells;
    for (const DelayPathInfo &p : paths)
        cells.append(UncertaintyCells(u.of(p.path), run.calibration.of(p.path)));
    const QStringList names = UncertaintyRowNames();
    for (int row = 0; row < names.size(); ++row) {
        QStringList line;
        for (const QStringList &c : cells)
            line << c.value(row);
        out += Row(names[row], line);
    }
    out += QLatin1Char('\n');
    for (const DelayPathInfo &p : paths) {
        const QString line = UncertaintyLine(p, u.of(p.path));
        if (!line.isEmpty())
            out += line + QLatin1Char('\n');
    }
    return out;
}

QString CompareTable(const StoredRun &a, const StoredRun &b)
{
    QString out;
    for (const DelayPathInfo &p : DelayPaths) {
        const bool inA = a.measured(p.path);
        const bool inB = b.measured(p.path);
        if (!inA && !inB)
            continue;
        if (!out.isEmpty())
            out += QLatin1Char('\n');
        if (!inA || !inB) {
            out += QStringLiteral("%1: measured in %2 only\n").arg(Label(p), inA ? QStringLiteral("A") : QStringLiteral("B"));
            continue;
        }
        const PathStats sa = ComputePathStats(a.values(p.path));
        const PathStats sb = ComputePathStats(b.values(p.path));
        out += Row(QStringLiteral("%1 (%2)").arg(Label(p), QLatin1String(p.unit)), {QStringLiteral("A"), QStringLiteral("B")});
        out += Row(QStringLiteral("n"), {QString::number(sa.n), QString::number(sb.n)});
        out += Row(QStringLiteral("mean"), {Value(sa.mean), Value(sb.mean)});
        out += Row(QStringLiteral("sd"), {Value(sa.sd), Value(sb.sd)});
        out += Row(QStringLiteral("median"), {Value(sa.median), Value(sb.median)});
        out += Row(QStringLiteral("p95"), {Value(sa.p95), Value(sb.p95)});
        const MeanDifference d = CompareMeans(sa, sb);
        if (!std::isfinite(d.diff) || !std::isfinite(d.ciLow)) {
            out += QStringLiteral("B - A: no comparison, each run needs at least two values\n");
            continue;
        }
        out += QStringLiteral("B - A: %1 ms, 95 % CI %2 .. %3 ms (Welch, %4 df): %5\n")
                   .arg(Signed(d.diff), Signed(d.ciLow), Signed(d.ciHigh), QString::number(d.df, 'f', 1),
                        d.significant ? QStringLiteral("significant") : QStringLiteral("not significant"));
    }
    return out;
}
