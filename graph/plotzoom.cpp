#include "graph/plotzoom.h"

#include <QMouseEvent>

#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_magnifier.h>
#include <qwt_scale_div.h>

namespace {

constexpr int Axes[2] = {QwtPlot::xBottom, QwtPlot::yLeft};

} // namespace

PlotZoom::PlotZoom(QwtPlot *plot) : QwtPlotZoomer(plot->canvas(), false)
{
    // A right click is ours (back to the full view, also after wheel
    // zooming, which the zoom stack does not know about); the middle button
    // still steps back one rubber band.
    setMousePattern(QwtEventPattern::MouseSelect2, Qt::NoButton);
    setTrackerMode(QwtPicker::ActiveOnly);
    setRubberBandPen(QPen(Qt::darkGray, 0, Qt::DashLine));

    magnifier_ = new QwtPlotMagnifier(plot->canvas());
    // The right button would drag-zoom; it belongs to the full view.
    magnifier_->setMouseButton(Qt::NoButton);
    // Wheel forward zooms in, as in most viewers.
    magnifier_->setWheelFactor(1.1);

    takeFullView();
}

void PlotZoom::takeFullView()
{
    QwtPlot *plt = plot();
    // Scales set since the last redraw are divided only here.
    plt->updateAxes();
    for (int i = 0; i < 2; ++i) {
        AxisView &v = full_[i];
        v.autoScale = plt->axisAutoScale(Axes[i]);
        const QwtScaleDiv &div = plt->axisScaleDiv(Axes[i]);
        v.lower = div.lowerBound();
        v.upper = div.upperBound();
        v.step = plt->axisStepSize(Axes[i]);
    }
    // The zoom stack starts from the plot as it will be drawn.
    setZoomBase(true);
}

void PlotZoom::showFull()
{
    QwtPlot *plt = plot();
    for (int i = 0; i < 2; ++i) {
        const AxisView &v = full_[i];
        if (v.autoScale)
            plt->setAxisAutoScale(Axes[i], true);
        else
            plt->setAxisScale(Axes[i], v.lower, v.upper, v.step);
    }
    // setZoomBase redraws and starts a fresh stack from the full view.
    setZoomBase(true);
}

void PlotZoom::widgetMouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton && event->modifiers() == Qt::NoModifier) {
        showFull();
        return;
    }
    QwtPlotZoomer::widgetMouseReleaseEvent(event);
}
