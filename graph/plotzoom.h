// Zooming a plot with the mouse: a rubber band with the left button, the
// wheel in and out, and a right click back to the full view, which is what
// the plot showed when this was attached (a fixed span stays fixed, an
// autoscaled axis autoscales again).
#pragma once

#include <qwt_plot_zoomer.h>

class QwtPlot;
class QwtPlotMagnifier;

class PlotZoom : public QwtPlotZoomer
{
    Q_OBJECT

public:
    // Attaches to the plot's canvas, which owns it; the plot's axes and data
    // must be set by then.
    explicit PlotZoom(QwtPlot *plot);

    // Back to the full view. The plot is redrawn.
    void showFull();

    // Takes the current view as the full one, after the data changed.
    void takeFullView();

protected:
    void widgetMouseReleaseEvent(QMouseEvent *event) override;

private:
    struct AxisView
    {
        bool autoScale = true;
        double lower = 0.0, upper = 1.0, step = 0.0;
    };
    AxisView full_[2]; // x, y
    QwtPlotMagnifier *magnifier_ = nullptr;
};
