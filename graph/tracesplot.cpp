#include "graph/tracesplot.h"

#include "graph/statisticsplots.h"

#include <QPen>

#include <qwt_legend.h>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_marker.h>
#include <qwt_text.h>

#include <cmath>

namespace {

struct Channel
{
    const char *title;
    QColor colour;
    const char *edge;
};

// The graph dialog's colours, the RF envelope's yellow darkened as in the
// window's other plots so it reads on white.
const Channel Channels[3] = {
    {"Source (channel 1)", QColor(Qt::blue), "tsrc"},
    {"RF envelope (scaled 0…0.2)", PathColour(DelayPath::Src2Rf), "trf"},
    {"Sink (channel 2)", QColor(Qt::red), "tsnk"},
};

} // namespace

QString EdgeMarkText(const char *name, double seconds)
{
    return QStringLiteral("%1 = %2 ms").arg(QLatin1String(name), QString::number(seconds * 1000.0, 'f', 3));
}

void SetUpTracesPlot(QwtPlot *plot, QwtPlotCurve *curves[3])
{
    plot->setCanvasBackground(Qt::white);
    plot->setAxisTitle(QwtPlot::xBottom, QStringLiteral("Time / ms"));
    plot->setAxisTitle(QwtPlot::yLeft, QStringLiteral("Voltage / V"));
    plot->setAxisAutoScale(QwtPlot::xBottom, true);
    plot->setAxisAutoScale(QwtPlot::yLeft, true);
    auto *grid = new QwtPlotGrid;
    grid->setMajorPen(QPen(QColor(220, 220, 220), 0, Qt::DotLine));
    grid->attach(plot);
    // Above the canvas: inside it, the legend would hide the rest before the
    // trigger, where the traces start.
    auto *legend = new QwtLegend;
    plot->insertLegend(legend, QwtPlot::TopLegend);
    for (int i = 0; i < 3; ++i) {
        curves[i] = new QwtPlotCurve(QString::fromUtf8(Channels[i].title));
        curves[i]->setPen(Channels[i].colour, 0);
        curves[i]->attach(plot);
    }
}

void ShowTraces(QwtPlot *plot, QwtPlotCurve *const curves[3], const MeasurementTraces &traces, double tsrc,
                double trf, double tsnk)
{
    plot->detachItems(QwtPlotItem::Rtti_PlotMarker, true);
    QVector<double> ms(traces.t.size());
    for (int i = 0; i < traces.t.size(); ++i)
        ms[i] = traces.t[i] * 1000.0;
    const QVector<double> *ys[3] = {&traces.traces.src, &traces.traces.rf, &traces.traces.snk};
    for (int i = 0; i < 3; ++i)
        curves[i]->setSamples(ms, *ys[i]); // as many points as the shorter of the two
    const double edges[3] = {tsrc, trf, tsnk};
    for (int i = 0; i < 3; ++i) {
        if (!std::isfinite(edges[i]) || traces.t.isEmpty())
            continue;
        auto *mark = new QwtPlotMarker;
        QwtText label(EdgeMarkText(Channels[i].edge, edges[i]));
        label.setColor(Channels[i].colour.darker(120));
        mark->setLabel(label);
        mark->setLabelAlignment(Qt::AlignLeft | Qt::AlignTop);
        mark->setLabelOrientation(Qt::Vertical);
        mark->setLineStyle(QwtPlotMarker::VLine);
        mark->setLinePen(QPen(QBrush(Channels[i].colour), 0, Qt::DashDotLine));
        mark->setXValue(edges[i] * 1000.0);
        mark->attach(plot);
    }
    plot->replot();
}
