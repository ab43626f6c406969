#include "graph/statisticsplots.h"

#include "measurement/histogram.h"

#include <QPen>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_histogram.h>
#include <qwt_scale_engine.h>
#include <qwt_symbol.h>
#include <qwt_text.h>

#include <cmath>

namespace {

// Up to this many points a measurement is also marked by a symbol; beyond
// it the symbols would only cover each other and cost drawing time.
constexpr int MaxSymbols = 300;

void Clear(QwtPlot *plot)
{
    plot->detachItems(QwtPlotItem::Rtti_PlotItem, true);
    auto *grid = new QwtPlotGrid;
    grid->setMajorPen(QPen(QColor(220, 220, 220), 0, Qt::DotLine));
    grid->attach(plot);
}

QwtText Title(const QString &text, int pixelSize)
{
    QwtText title(text);
    QFont font = title.font();
    font.setPixelSize(pixelSize);
    font.setBold(true);
    title.setFont(font);
    return title;
}

void AxisTitles(QwtPlot *plot, const QString &x, const QString &y)
{
    plot->setAxisTitle(QwtPlot::xBottom, Title(x, 11));
    plot->setAxisTitle(QwtPlot::yLeft, Title(y, 11));
    plot->setAxisAutoScale(QwtPlot::xBottom, true);
    plot->setAxisAutoScale(QwtPlot::yLeft, true);
}

} // namespace

QwtPlot *MakeStatisticsPlot(QWidget *parent, int minWidth, int minHeight, int maxMajor)
{
    auto *plot = new QwtPlot(parent);
    plot->setCanvasBackground(Qt::white);
    plot->setMinimumSize(minWidth, minHeight);
    QFont small = plot->font();
    small.setPixelSize(10);
    for (int axis : {QwtPlot::xBottom, QwtPlot::yLeft}) {
        plot->setAxisFont(axis, small);
        // Few labels: a narrow plot's tick labels would run into each other.
        plot->setAxisMaxMajor(axis, maxMajor);
    }
    return plot;
}

QColor PathColour(DelayPath path)
{
    return QColor(QLatin1String(PathInfo(path).colour));
}

void ShowHistogram(QwtPlot *plot, const DelayPathInfo &path, const QVector<double> &values, bool measured)
{
    Clear(plot);
    const QString title = QLatin1String(path.label);
    const QColor colour = PathColour(path.path);
    plot->setTitle(Title(measured ? title : title + QStringLiteral(" (not measured)"), 12));
    AxisTitles(plot, QLatin1String(path.unit), QStringLiteral("count"));
    // Counts from 0, also when every bin holds the same number.
    plot->axisScaleEngine(QwtPlot::yLeft)->setAttribute(QwtScaleEngine::IncludeReference, true);
    plot->axisScaleEngine(QwtPlot::yLeft)->setReference(0.0);
    if (measured) {
        const Histogram h = MakeHistogram(values);
        QVector<QwtIntervalSample> samples;
        samples.reserve(h.counts.size());
        for (int i = 0; i < h.counts.size(); ++i)
            samples.append(QwtIntervalSample(h.counts[i], h.start + i * h.width, h.start + (i + 1) * h.width));
        auto *bars = new QwtPlotHistogram(title);
        bars->setStyle(QwtPlotHistogram::Columns);
        QColor fill = colour;
        fill.setAlpha(160);
        bars->setBrush(fill);
        bars->setPen(QPen(colour.darker(130), 0));
        bars->setSamples(samples);
        bars->attach(plot);
    }
    plot->replot();
}

void ShowDelaysByIndex(QwtPlot *plot, const QVector<Measurement> &measurements, bool hdMeasured)
{
    Clear(plot);
    AxisTitles(plot, QStringLiteral("Measurement"), QStringLiteral("Delay / ms"));

    for (const DelayPathInfo &p : DelayPaths) {
        if (p.path == DelayPath::Src2Hd && !hdMeasured)
            continue;
        QVector<double> x, y;
        x.reserve(measurements.size());
        y.reserve(measurements.size());
        for (const Measurement &m : measurements) {
            const double v = m.delay(p.path);
            if (m.gap(p.path) == DelayGap::None && std::isfinite(v)) {
                x.append(m.index);
                y.append(v);
            }
        }
        const QColor colour = PathColour(p.path);
        auto *curve = new QwtPlotCurve(QLatin1String(p.label));
        curve->setPen(colour, 0);
        curve->setRenderHint(QwtPlotItem::RenderAntialiased, x.size() <= MaxSymbols);
        if (x.size() <= MaxSymbols)
            curve->setSymbol(new QwtSymbol(QwtSymbol::Ellipse, QBrush(colour), QPen(colour), QSize(5, 5)));
        curve->setSamples(x, y);
        curve->attach(plot);
    }
    plot->replot();
}
