#include "measurement/reportplots.h"

#include <cmath>

namespace {

QString PathColour(DelayPath path)
{
    return QLatin1String(PathInfo(path).colour);
}

} // namespace

SvgPlot ReportHistogram(const RecordedRun &run, const DelayPathInfo &path)
{
    SvgPlot plot;
    plot.title = QLatin1String(path.label);
    plot.xTitle = QStringLiteral("Delay / %1").arg(QLatin1String(path.unit));
    plot.yTitle = QStringLiteral("count");
    // Three to a row: small, so that their text prints as large as the others'.
    plot.width = 250;
    plot.height = 200;
    plot.yFromZero = true;
    plot.bars = MakeHistogram(run.delays(path.path));
    plot.barColour = PathColour(path.path);
    return plot;
}

SvgPlot ReportTrend(const RecordedRun &run)
{
    SvgPlot plot;
    plot.title = QStringLiteral("Delays over the run");
    plot.xTitle = QStringLiteral("Measurement");
    plot.yTitle = QStringLiteral("Delay / ms");
    for (const DelayPathInfo &p : DelayPaths) {
        if (!run.measured(p.path))
            continue;
        SvgSeries s;
        s.name = QLatin1String(p.label);
        s.colour = PathColour(p.path);
        s.dots = true;
        // Only measurements with a value: a gap is no point, and the line
        // goes on to the next value as the window's does.
        for (const RecordedMeasurement &m : run.measurements)
            if (std::isfinite(m.delay[int(p.path)])) {
                s.x.append(m.index);
                s.y.append(m.delay[int(p.path)]);
            }
        plot.series.append(s);
    }
    return plot;
}

SvgPlot ReportTracesPlot(const RecordedRun &run, const ReportTraces &traces)
{
    SvgPlot plot;
    plot.title = QStringLiteral("Traces of measurement %1").arg(traces.index);
    plot.xTitle = QStringLiteral("Time / ms");
    plot.yTitle = QStringLiteral("Voltage / V");
    plot.height = 300;
    if (traces.index <= 0)
        return plot;
    const QVector<double> &t = traces.traces.t;
    struct Channel
    {
        const char *name;
        const char *colour;
        const QVector<double> &y;
    };
    const KeptTraces &k = traces.traces.traces;
    const Channel channels[3] = {{"Source (channel 1)", "#0000ff", k.src},
                                 {"RF envelope (scaled 0\u20260.2)", "#c88c00", k.rf},
                                 {"Sink (channel 2)", "#e00000", k.snk}};
    for (const Channel &c : channels) {
        if (c.y.isEmpty())
            continue;
        SvgSeries s;
        s.name = QString::fromUtf8(c.name);
        s.colour = QLatin1String(c.colour);
        const int n = std::min(t.size(), c.y.size());
        s.x.reserve(n);
        s.y = c.y.mid(0, n);
        for (int i = 0; i < n; ++i)
            s.x.append(t[i] * 1000.0);
        plot.series.append(s);
    }
    // The edges the record found in this measurement.
    for (const RecordedMeasurement &m : run.measurements) {
        if (m.index != traces.index)
            continue;
        const struct
        {
            const char *name;
            double s;
            const char *colour;
        } edges[3] = {{"tsrc", m.tsrc, "#0000ff"}, {"trf", m.trf, "#a06e00"}, {"tsnk", m.tsnk, "#b00000"}};
        for (const auto &e : edges)
            if (std::isfinite(e.s))
                plot.markers.append(SvgMarker{e.s * 1000.0,
                                              QStringLiteral("%1 = %2 ms").arg(QLatin1String(e.name),
                                                                               QString::number(e.s * 1000.0, 'f', 3)),
                                              QLatin1String(e.colour)});
        break;
    }
    return plot;
}
