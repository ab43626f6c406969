#include "graph/graph.h"
#include "graph/graphform.h"
#include "graph/resultbox.h"
#include "shared/measstate.h"

#include <QCoreApplication>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_scale_engine.h>
#include <qwt_text.h>

#include <cmath>

namespace {

struct TraceRow
{
    const QVector<double> &y;
    Qt::GlobalColor colour;
    const char *markerText;
    double markerX;
};

// The marker of an edge that was not found (NaN) is not drawn at all.
void AddMarker(QwtPlot *plt, const char *text, double x)
{
    if (std::isnan(x))
        return;
    auto *marker = new QwtPlotMarker(QString());
    marker->setLabel(QwtText(QString::fromLatin1(text).arg(QString::number(x, 'g', 6))));
    marker->setLabelAlignment(Qt::AlignLeft | Qt::AlignTop);
    marker->setLabelOrientation(Qt::Vertical);
    marker->setLineStyle(QwtPlotMarker::VLine);
    marker->setLinePen(QPen(QBrush(Qt::black), 0, Qt::DashDotLine, Qt::SquareCap, Qt::BevelJoin));
    marker->setXValue(x);
    marker->attach(plt);
}

} // namespace

Graph::Graph(QWidget *parent) : QDialog(parent), form(new GraphForm)
{
    form->setupUi(this);
    QwtPlot *plt = form->plt;

    // Fixed span, the same as the acquisition window of the oscilloscope type.
    const double half = OsTypIdx == 0 ? 0.5 : 0.6;
    plt->setAxisScale(QwtPlot::xBottom, -half, half, 0);
    plt->setAxisScaleEngine(QwtPlot::xBottom, new QwtLinearScaleEngine(10));
    plt->setAxisTitle(QwtPlot::xBottom, QStringLiteral("Time / s"));
    plt->setAxisAutoScale(QwtPlot::yLeft, true);
    plt->setAxisTitle(QwtPlot::yLeft, QStringLiteral("Voltage / V"));

    const TraceRow rows[] = {
        {d1, Qt::blue, "tsrc = %1 s", tsrc},
        {d2, Qt::yellow, "trf = %1 s", trf},
        {d3, Qt::red, "tsnk = %1 s", tsnk},
    };
    QwtPlotCurve **curves[] = {&Crv1, &Crv2, &Crv3};
    for (int i = 0; i < 3; ++i) {
        auto *curve = new QwtPlotCurve(QString());
        curve->setPen(rows[i].colour, 0, Qt::SolidLine);
        curve->attach(plt);
        curve->setSamples(t, rows[i].y);
        *curves[i] = curve;
        AddMarker(plt, rows[i].markerText, rows[i].markerX);
    }

    form->Src2Rf->setResult(AvgSrc2Rf);
    form->Src2Hd->setEnabled(MeasHdmi);
    form->Src2Hd->setResult(AvgSrc2Hd);
    form->Src2Snk->setResult(AvgSrc2Snk);

    // Dispatches what queued up while the run held the event loop.
    QCoreApplication::processEvents();
}

Graph::~Graph() { delete form; }
