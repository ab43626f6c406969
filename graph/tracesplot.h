// The Statistics window's Traces page plot: one measurement's three traces
// against time in ms, a legend naming the channels, and a labelled mark at
// each edge found.
#pragma once

#include "measurement/tracefiles.h"

#include <QString>

class QwtPlot;
class QwtPlotCurve;

// Axes, legend and the three titled curves (source, RF envelope, sink),
// attached to the plot, which owns them.
void SetUpTracesPlot(QwtPlot *plot, QwtPlotCurve *curves[3]);

// Replaces the curves' samples and the edge marks (NaN edges get none).
// Empty traces leave empty curves and no marks. The plot is redrawn.
void ShowTraces(QwtPlot *plot, QwtPlotCurve *const curves[3], const MeasurementTraces &traces, double tsrc,
                double trf, double tsnk);

// "tsrc = -12.346 ms" for an edge at -0.0123456 s.
QString EdgeMarkText(const char *name, double seconds);
