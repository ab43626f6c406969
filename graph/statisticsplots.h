// The Statistics window's plots: a histogram of one path, and every path's
// delays against the measurement index.
#pragma once

#include "measurement/delaypaths.h"
#include "measurement/runrecord.h"

#include <QColor>
#include <QString>
#include <QVector>

class QWidget;
class QwtPlot;

// A plot of the window: white canvas, small axis labels, at most maxMajor
// of them per axis, at least minWidth x minHeight.
QwtPlot *MakeStatisticsPlot(QWidget *parent, int minWidth, int minHeight, int maxMajor);

// One colour per path, the same in every plot of the window.
QColor PathColour(DelayPath path);

// Replaces what the plot showed with the histogram of `values` (NaN left
// out); a path that was not measured shows only its title.
void ShowHistogram(QwtPlot *plot, const DelayPathInfo &path, const QVector<double> &values, bool measured);

// Replaces what the plot showed with each path's delays (ms) against the
// measurement's index; measurements without a value leave a gap, the HDMI
// path only when it was measured.
void ShowDelaysByIndex(QwtPlot *plot, const QVector<Measurement> &measurements, bool hdMeasured);
