#include "graph/traceview.h"

#include "graph/plotzoom.h"
#include "graph/statisticsplots.h"
#include "graph/tracesplot.h"

#include <QBoxLayout>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QSpinBox>

#include <algorithm>

#include <qwt_plot.h>

TraceView::TraceView(QWidget *parent) : QWidget(parent)
{
    index = new QSpinBox(this);
    index->setObjectName(QStringLiteral("traceIndex"));
    index->setKeyboardTracking(false); // a typed number loads once, not per digit
    note = new QLabel(this);
    note->setWordWrap(true);
    note->setTextInteractionFlags(Qt::TextSelectableByMouse);
    plot = MakeStatisticsPlot(this, 300, 200, 8);
    SetUpTracesPlot(plot, curves);

    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(tr("Measurement"), this));
    row->addWidget(index);
    row->addWidget(note, 1);
    auto *column = new QVBoxLayout(this);
    column->addLayout(row);
    column->addWidget(plot, 1);
    connect(index, QOverload<int>::of(&QSpinBox::valueChanged), this, &TraceView::showMeasurement);

    setRun(RunRecord(), MeasurementTraces(), false);
    zoom = new PlotZoom(plot);
}

void TraceView::setRun(const RunRecord &run, const MeasurementTraces &last, bool underWay)
{
    run_ = run;
    last_ = last;
    underWay_ = underWay;
    const int n = run_.measurements.size();
    const QSignalBlocker quiet(index);
    index->setRange(std::min(1, n), n);
    index->setValue(n);
    showMeasurement(n);
}

void TraceView::showMeasurement(int measurement)
{
    MeasurementTraces shown;
    QString text;
    const int n = run_.measurements.size();
    const Measurement *m = measurement >= 1 && measurement <= n ? &run_.measurements[measurement - 1] : nullptr;
    QString why;
    if (!m) {
        text = tr("No measurement to show.");
    } else if (underWay_) {
        text = tr("The run is under way: its traces can be shown once it has ended.");
        m = nullptr;
    } else if (measurement == n && !last_.traces.src.isEmpty()) {
        shown = last_;
        text = tr("Measurement %1, the run's last, from memory.").arg(measurement);
    } else if (LoadMeasurementTraces(run_, measurement, &shown, &why)) {
        text = tr("Measurement %1, from its trace files (%2).")
                   .arg(measurement)
                   .arg(QDir::toNativeSeparators(QFileInfo(MeasurementTracePaths(run_, measurement).value(0)).fileName()));
    } else if (!RunWroteTraceFiles(run_) && measurement == n) {
        text = tr("The traces of measurement %1 are not in memory, and this run wrote no trace files.")
                   .arg(measurement);
        m = nullptr;
    } else if (!RunWroteTraceFiles(run_)) {
        text = tr("The traces of measurement %1 were not saved: only the last measurement's traces are kept in "
                  "memory, and this run wrote no trace files (Save Data was off).")
                   .arg(measurement);
        m = nullptr;
    } else {
        text = tr("The traces of measurement %1 cannot be shown: %2.").arg(measurement).arg(why);
        m = nullptr;
    }
    note->setText(text);
    if (m)
        ShowTraces(plot, curves, shown, m->tsrc, m->trf, m->tsnk);
    else
        ShowTraces(plot, curves, MeasurementTraces(), 0, 0, 0);
    if (zoom)
        zoom->takeFullView();
}
