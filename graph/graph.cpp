#include "graph/graph.h"
#include "graph/graphform.h"
#include "graph/resultbox.h"
#include "graph/statisticswindow.h"
#include "graph/statstext.h"
#include "instruments/osctype.h"
#include "measurement/runstats.h"
#include "shared/measstate.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLayout>
#include <QStyle>
#include <QPushButton>
#include <QWindow>

#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
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

Graph::Graph(QWidget *parent) : QDialog(parent), form(std::make_unique<GraphForm>())
{
    form->setupUi(this);
    QwtPlot *plt = form->plt;

    // Fixed span, the same as the acquisition window of the oscilloscope type.
    const OscType &type = OscTypeOf(OsTypIdx);
    plt->setAxisScale(QwtPlot::xBottom, type.firstSampleTime, type.firstSampleTime + type.recordSpan, 0);
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
        // Untitled: the plot has no legend. The Statistics window's Traces
        // page names the channels, and zooms.
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

    // The spread behind each mean. A copy of the run that shares its data
    // with LastRun: cheap, and still this run after the next one started.
    run_ = LastRun;
    // The traces plotted, for the Traces page: the curves' own copies.
    last_.t = t;
    last_.traces = KeptTraces{NumPts, d1, d2, d3};
    const RunStats stats = ComputeRunStats(run_);
    ResultBox *boxes[] = {form->Src2Rf, form->Src2Hd, form->Src2Snk};
    for (const DelayPathInfo &p : DelayPaths)
        boxes[int(p.path)]->setToolTip(PathStatsToolTip(p, stats.of(p.path)));

    // ResetRole only for its place: every platform's button order puts that
    // role at the box's left end, so the button sits left of OK and OK keeps
    // its place at the right end and its accept role.
    statisticsButton = form->buttonBox->addButton(tr("Statistics…"), QDialogButtonBox::ResetRole);
    statisticsButton->setObjectName(QStringLiteral("statisticsButton"));
    statisticsButton->setAutoDefault(false);
    // The box was sized for OK alone: Statistics… takes what OK leaves, so
    // OK keeps its width as well.
    QPushButton *ok = form->buttonBox->button(QDialogButtonBox::Ok);
    const int spacing = form->buttonBox->layout()->spacing() >= 0
                            ? form->buttonBox->layout()->spacing()
                            : style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing, nullptr, form->buttonBox);
    statisticsButton->setMaximumWidth(form->buttonBox->width() - ok->sizeHint().width() - spacing);
    connect(statisticsButton, &QPushButton::clicked, this, &Graph::showStatistics);

    // Dispatches what queued up while the run held the event loop.
    QCoreApplication::processEvents();
}

Graph::~Graph() = default;

void Graph::setStatisticsOwner(QWidget *owner) { owner_ = owner; }

QWidget *Graph::statisticsOwner() { return owner_ ? owner_.data() : this; }

StatisticsWindow *Graph::statisticsWindow()
{
    return statisticsOwner()->findChild<StatisticsWindow *>(QString(), Qt::FindDirectChildrenOnly);
}

void Graph::attachStatistics(StatisticsWindow *window, QWidget *to)
{
    // Both need their platform windows for this.
    window->winId();
    to->window()->winId();
    window->windowHandle()->setTransientParent(to->window()->windowHandle());
}

void Graph::showStatistics()
{
    StatisticsWindow *window = statisticsWindow();
    if (!window)
        window = new StatisticsWindow(statisticsOwner());
    window->showRun(run_, last_);
    if (isVisible())
        attachStatistics(window, this);
    window->show();
    window->raise();
    window->activateWindow();
}

void Graph::showEvent(QShowEvent *event)
{
    // Before the dialog goes modal: a window transient for it is not blocked.
    if (StatisticsWindow *window = statisticsWindow(); window && window->isVisible()) {
        window->showRun(run_, last_);
        attachStatistics(window, this);
    }
    QDialog::showEvent(event);
}

void Graph::hideEvent(QHideEvent *event)
{
    // The window stays; from now on it hangs on its owner.
    if (StatisticsWindow *window = statisticsWindow(); window && statisticsOwner() != this)
        attachStatistics(window, statisticsOwner());
    QDialog::hideEvent(event);
}
