#include "app/histogramplot.h"

#include "graph/plotimage.h"
#include "measurement/histbins.h"

#include <QPainter>

#include <qwt_legend.h>
#include <qwt_plot.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_histogram.h>
#include <qwt_plot_legenditem.h>
#include <qwt_plot_renderer.h>
#include <qwt_text.h>

#include <algorithm>

namespace {

constexpr int ImageWidth = 900;
constexpr int PlotHeight = 320;

// Light fills so the bars behind show through, and full-colour outlines so
// each run's bars stay recognisable where they overlap.
const QColor ColourA(31, 119, 180);
const QColor ColourB(255, 127, 14);

void AddHistogram(QwtPlot *plot, const QString &name, const QColor &colour, const SharedBins &bins,
                  const QVector<int> &counts)
{
    QVector<QwtIntervalSample> samples;
    for (int k = 0; k < counts.size(); ++k)
        samples.append(QwtIntervalSample(counts[k], bins.start + k * bins.width, bins.start + (k + 1) * bins.width));
    auto *h = new QwtPlotHistogram(name);
    h->setStyle(QwtPlotHistogram::Columns);
    h->setPen(QPen(colour, 2));
    QColor fill = colour;
    fill.setAlpha(90);
    h->setBrush(fill);
    h->setSamples(samples);
    h->attach(plot); // the plot owns it
}

void DrawPath(QPainter &painter, const QRectF &rect, const QString &path, const QVector<double> &a,
              const QString &nameA, const QVector<double> &b, const QString &nameB)
{
    QwtPlot plot;
    plot.setCanvasBackground(Qt::white);
    plot.setTitle(QStringLiteral("%1 delay").arg(path));
    plot.setAxisTitle(QwtPlot::xBottom, QStringLiteral("delay (ms)"));
    plot.setAxisTitle(QwtPlot::yLeft, QStringLiteral("measurements"));
    auto *grid = new QwtPlotGrid;
    grid->setPen(QPen(QColor(220, 220, 220), 0));
    grid->attach(&plot);

    const SharedBins bins = BinTwoRuns(a, b);
    AddHistogram(&plot, nameA, ColourA, bins, bins.countsA);
    AddHistogram(&plot, nameB, ColourB, bins, bins.countsB);
    // Counts from 0, with room above the tallest bar for the legend.
    int tallest = 1;
    for (int c : bins.countsA + bins.countsB)
        tallest = std::max(tallest, c);
    plot.setAxisScale(QwtPlot::yLeft, 0, tallest * 1.35);

    // Inside the canvas, so the renderer draws it with the plot.
    auto *legend = new QwtPlotLegendItem;
    legend->setAlignment(Qt::AlignTop | Qt::AlignRight);
    legend->setBackgroundBrush(QColor(255, 255, 255, 200));
    legend->attach(&plot);

    plot.replot();
    QwtPlotRenderer renderer;
    renderer.render(&plot, &painter, rect);
}

} // namespace

bool WriteHistogramPicture(const QString &path, const StoredRun &a, const QString &nameA, const StoredRun &b,
                           const QString &nameB, QString *error)
{
    QVector<DelayPath> paths;
    for (const DelayPathInfo &p : DelayPaths)
        if (a.measured(p.path) && b.measured(p.path))
            paths.append(p.path);
    const QSize size(ImageWidth, PlotHeight * paths.size());
    return WritePicture(path, size,
                        [&](QPainter &painter, const QRectF &area) {
                            for (int i = 0; i < paths.size(); ++i)
                                DrawPath(painter,
                                         QRectF(area.left(), area.top() + i * PlotHeight, ImageWidth, PlotHeight),
                                         QLatin1String(PathInfo(paths[i]).label), a.values(paths[i]), nameA,
                                         b.values(paths[i]), nameB);
                        },
                        error);
}
