// Plots as SVG text for a report that must open in any browser, offline and
// on paper: lines, dots, histogram bars and marked positions over axes whose
// ticks fall on round numbers. No widget and no font file: the text asks
// for the reader's own sans-serif.
#pragma once

#include "measurement/histogram.h"

#include <QString>
#include <QVector>

struct SvgSeries
{
    QString name;   // in the legend; empty: not listed
    QString colour; // "#c88c00"
    QVector<double> x, y; // a point whose x or y is not finite breaks the line
    bool line = true;
    bool dots = false; // drawn only up to MaxSvgDots points
};

// A position on the x axis to point out (an edge), with its label.
struct SvgMarker
{
    double x = 0.0;
    QString label;
    QString colour;
};

struct SvgPlot
{
    QString title, xTitle, yTitle;
    int width = 680, height = 260; // CSS pixels; the picture scales to its box
    QVector<SvgSeries> series;
    Histogram bars; // drawn when it has counts
    QString barColour;
    QVector<SvgMarker> markers;
    bool yFromZero = false;
};

constexpr int MaxSvgDots = 300;

// The plot as one <svg> element, for inline use in HTML. A line of more
// points than its width has pixels is drawn from each pixel column's
// lowest and highest point: the same picture, a bounded size.
QString SvgPlotText(const SvgPlot &plot);

// Round ticks for [lo, hi]: about `wanted` steps of 1, 2 or 5 times a power
// of ten. *first and *last are multiples of the step at or beyond lo and hi.
double SvgTickStep(double lo, double hi, int wanted, double *first, double *last);
