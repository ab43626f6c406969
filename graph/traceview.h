// The Statistics window's Traces page: one measurement of the run shown, by
// its number. The run's last measurement comes from memory, earlier ones
// from their trace files (LoadMeasurementTraces); where there are none, a
// note says why and the curves stay empty.
#pragma once

#include "measurement/runrecord.h"
#include "measurement/tracefiles.h"

#include <QWidget>

class PlotZoom;
class QLabel;
class QSpinBox;
class QwtPlot;
class QwtPlotCurve;

class TraceView : public QWidget
{
    Q_OBJECT

public:
    explicit TraceView(QWidget *parent = nullptr);

    // A run (its measurements' traces are not read from it), the traces of
    // its last measurement (empty when there are none in memory), and
    // whether it is still under way. Shows its last measurement.
    void setRun(const RunRecord &run, const MeasurementTraces &last, bool underWay);

    QSpinBox *index = nullptr; // the measurement shown
    QLabel *note = nullptr;    // where its traces come from, or why there are none
    QwtPlot *plot = nullptr;
    QwtPlotCurve *curves[3] = {nullptr, nullptr, nullptr}; // source, RF, sink
    PlotZoom *zoom = nullptr;

public slots:
    // Shows measurement `measurement` (1-based) of the run.
    void showMeasurement(int measurement);

private:
    RunRecord run_;
    MeasurementTraces last_;
    bool underWay_ = false;
};
