#include "measurement/svgplot.h"

#include "measurement/markuptext.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The plot area inside the picture: room for the tick labels on the left,
// the axis title below, and title and legend above.
constexpr double Left = 64, Right = 14, Top = 34, Bottom = 40;

QString Px(double v)
{
    // Coordinates to a tenth of a pixel; never "-0.0".
    const double r = std::round(v * 10.0) / 10.0;
    return QString::number(r == 0.0 ? 0.0 : r, 'f', 1);
}

struct Range
{
    double lo = 0.0, hi = 0.0;
    bool any = false;
    void add(double v)
    {
        if (!std::isfinite(v))
            return;
        lo = any ? std::min(lo, v) : v;
        hi = any ? std::max(hi, v) : v;
        any = true;
    }
};

struct Axis
{
    double lo = 0.0, hi = 1.0, step = 0.5;
    int decimals = 1;
};

Axis AxisFor(Range r, int wanted)
{
    if (!r.any) {
        r.lo = 0.0;
        r.hi = 1.0;
    } else if (!(r.hi - r.lo > 0.0) || !std::isfinite(r.hi - r.lo)) {
        // One value (or a span too wide for a double): a span around it.
        const double half = std::isfinite(r.hi - r.lo) && std::fabs(r.lo) > 0 ? std::fabs(r.lo) * 0.05 : 0.5;
        r.lo -= half;
        r.hi += half;
        if (!std::isfinite(r.hi - r.lo)) {
            r.lo = -1.0;
            r.hi = 1.0;
        }
    }
    Axis a;
    a.step = SvgTickStep(r.lo, r.hi, wanted, &a.lo, &a.hi);
    a.decimals = a.step >= 1.0 ? 0 : std::min(12, int(std::ceil(-std::log10(a.step) - 1e-9)));
    return a;
}

QString Tick(double v, int decimals)
{
    // What rounds to zero reads 0, never -0.
    return QString::number(std::fabs(v) < 0.5 * std::pow(10.0, -decimals) ? 0.0 : v, 'f', decimals);
}

// Points of one line, pixel coordinates, as polylines: a new one after
// every point that is not finite. Runs of more points than the column
// holds pixels keep each column's first, lowest, highest and last point.
QStringList Polylines(const QVector<double> &px, const QVector<double> &py)
{
    QStringList lines;
    QString current;
    int count = 0;
    auto flush = [&] {
        if (count > 1)
            lines << current;
        current.clear();
        count = 0;
    };
    auto point = [&](int i) {
        current += (count > 0 ? QStringLiteral(" ") : QString()) + Px(px[i]) + QLatin1Char(',') + Px(py[i]);
        ++count;
    };
    int i = 0;
    const int n = std::min(px.size(), py.size());
    while (i < n) {
        if (!std::isfinite(px[i]) || !std::isfinite(py[i])) {
            flush();
            ++i;
            continue;
        }
        // The run of finite points in this pixel column.
        const long column = std::lround(std::floor(px[i]));
        int end = i;
        int low = i, high = i;
        while (end < n && std::isfinite(px[end]) && std::isfinite(py[end]) && std::lround(std::floor(px[end])) == column) {
            if (py[end] < py[low])
                low = end;
            if (py[end] > py[high])
                high = end;
            ++end;
        }
        QVector<int> keep{i, low, high, end - 1};
        std::sort(keep.begin(), keep.end());
        keep.erase(std::unique(keep.begin(), keep.end()), keep.end());
        for (int k : keep)
            point(k);
        i = end;
    }
    flush();
    return lines;
}

} // namespace

double SvgTickStep(double lo, double hi, int wanted, double *first, double *last)
{
    const double raw = (hi - lo) / std::max(1, wanted);
    double step = 1.0;
    if (raw > 0.0 && std::isfinite(raw)) {
        const double decade = std::pow(10.0, std::floor(std::log10(raw)));
        step = 10.0 * decade;
        for (double m : {1.0, 2.0, 5.0})
            if (m * decade >= raw * (1.0 - 1e-9)) {
                step = m * decade;
                break;
            }
    }
    *first = std::floor(lo / step + 1e-9) * step;
    *last = std::ceil(hi / step - 1e-9) * step;
    if (!(*last > *first))
        *last = *first + step;
    return step;
}

QString SvgPlotText(const SvgPlot &plot)
{
    const double w = std::max(200, plot.width);
    const double h = std::max(120, plot.height);
    const double x0 = Left, x1 = w - Right, y0 = Top, y1 = h - Bottom;

    Range xr, yr;
    for (const SvgSeries &s : plot.series)
        for (int i = 0; i < std::min(s.x.size(), s.y.size()); ++i)
            if (std::isfinite(s.x[i]) && std::isfinite(s.y[i])) {
                xr.add(s.x[i]);
                yr.add(s.y[i]);
            }
    const bool bars = !plot.bars.counts.isEmpty() && plot.bars.width > 0.0;
    if (bars) {
        xr.add(plot.bars.start);
        xr.add(plot.bars.start + plot.bars.width * plot.bars.counts.size());
        yr.add(0.0);
        yr.add(*std::max_element(plot.bars.counts.begin(), plot.bars.counts.end()));
    }
    for (const SvgMarker &m : plot.markers)
        xr.add(m.x);
    if (plot.yFromZero)
        yr.add(0.0);
    const Axis xa = AxisFor(xr, std::max(2, int((x1 - x0) / 90)));
    const Axis ya = AxisFor(yr, std::max(2, int((y1 - y0) / 45)));
    auto X = [&](double v) { return x0 + (v - xa.lo) / (xa.hi - xa.lo) * (x1 - x0); };
    auto Y = [&](double v) { return y1 - (v - ya.lo) / (ya.hi - ya.lo) * (y1 - y0); };

    QString svg;
    svg += QStringLiteral("<svg class=\"plot\" viewBox=\"0 0 %1 %2\" width=\"%1\" height=\"%2\" role=\"img\" "
                          "aria-label=\"%3\" font-family=\"sans-serif\" font-size=\"11\">\n")
               .arg(w)
               .arg(h)
               .arg(MarkupText(plot.title));
    svg += QStringLiteral("<rect x=\"0\" y=\"0\" width=\"%1\" height=\"%2\" fill=\"#fff\"/>\n").arg(w).arg(h);
    svg += QStringLiteral("<text x=\"%1\" y=\"16\" font-weight=\"bold\" font-size=\"13\">%2</text>\n")
               .arg(Px(x0), MarkupText(plot.title));

    // Grid and tick labels; the ticks' count is bounded by SvgTickStep's.
    QString grid;
    for (int k = 0;; ++k) {
        const double v = xa.lo + k * xa.step;
        if (v > xa.hi + xa.step * 1e-6 || k > 100)
            break;
        grid += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%1\" y2=\"%3\"/>").arg(Px(X(v)), Px(y0), Px(y1));
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3</text>\n")
                   .arg(Px(X(v)), Px(y1 + 14), Tick(v, xa.decimals));
    }
    for (int k = 0;; ++k) {
        const double v = ya.lo + k * ya.step;
        if (v > ya.hi + ya.step * 1e-6 || k > 100)
            break;
        grid += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%2\"/>").arg(Px(x0), Px(Y(v)), Px(x1));
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>\n")
                   .arg(Px(x0 - 5), Px(Y(v) + 4), Tick(v, ya.decimals));
    }
    svg += QStringLiteral("<g stroke=\"#ddd\" stroke-width=\"1\">%1</g>\n").arg(grid);
    svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3</text>\n")
               .arg(Px((x0 + x1) / 2), Px(h - 8), MarkupText(plot.xTitle));
    svg += QStringLiteral("<text transform=\"translate(14 %1) rotate(-90)\" text-anchor=\"middle\">%2</text>\n")
               .arg(Px((y0 + y1) / 2), MarkupText(plot.yTitle));

    if (bars) {
        svg += QStringLiteral("<g fill=\"%1\" fill-opacity=\"0.65\" stroke=\"%1\" stroke-width=\"0.8\">")
                   .arg(MarkupText(plot.barColour));
        for (int i = 0; i < plot.bars.counts.size(); ++i) {
            if (plot.bars.counts[i] == 0)
                continue;
            const double left = X(plot.bars.start + i * plot.bars.width);
            const double right = X(plot.bars.start + (i + 1) * plot.bars.width);
            const double top = Y(plot.bars.counts[i]);
            svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\"/>")
                       .arg(Px(left), Px(top), Px(std::max(0.5, right - left)), Px(Y(0.0) - top));
        }
        svg += QStringLiteral("</g>\n");
    }

    for (const SvgSeries &s : plot.series) {
        const int n = std::min(s.x.size(), s.y.size());
        QVector<double> px(n), py(n);
        int finite = 0;
        for (int i = 0; i < n; ++i) {
            const bool ok = std::isfinite(s.x[i]) && std::isfinite(s.y[i]);
            px[i] = ok ? X(s.x[i]) : std::numeric_limits<double>::quiet_NaN();
            py[i] = ok ? Y(s.y[i]) : px[i];
            finite += ok;
        }
        const QString colour = MarkupText(s.colour);
        if (s.line)
            for (const QString &points : Polylines(px, py))
                svg += QStringLiteral("<polyline fill=\"none\" stroke=\"%1\" stroke-width=\"1.2\" points=\"%2\"/>\n")
                           .arg(colour, points);
        if (s.dots && finite <= MaxSvgDots) {
            svg += QStringLiteral("<g fill=\"%1\">").arg(colour);
            for (int i = 0; i < n; ++i)
                if (std::isfinite(px[i]))
                    svg += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"2.2\"/>").arg(Px(px[i]), Px(py[i]));
            svg += QStringLiteral("</g>\n");
        }
    }

    // Labels one below the other: edges close together would overwrite each other.
    double labelAt = y0 + 12;
    for (const SvgMarker &m : plot.markers) {
        if (!std::isfinite(m.x))
            continue;
        const QString colour = MarkupText(m.colour);
        // Right of the line, or left of it in the right half.
        const bool right = X(m.x) < (x0 + x1) / 2;
        svg += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%1\" y2=\"%3\" stroke=\"%4\" stroke-dasharray=\"4 3\"/>"
                              "<text x=\"%5\" y=\"%6\" fill=\"%4\" text-anchor=\"%7\">%8</text>\n")
                   .arg(Px(X(m.x)), Px(y0), Px(y1), colour, Px(X(m.x) + (right ? 3 : -3)), Px(labelAt),
                        right ? QStringLiteral("start") : QStringLiteral("end"), MarkupText(m.label));
        labelAt += 13;
    }

    // Legend: right-aligned above the plot area, one entry per named series.
    double at = x1;
    QString legend;
    for (auto s = plot.series.crbegin(); s != plot.series.crend(); ++s) {
        if (s->name.isEmpty())
            continue;
        const double textWidth = 6.2 * s->name.size();
        at -= textWidth;
        legend += QStringLiteral("<text x=\"%1\" y=\"%2\">%3</text>").arg(Px(at), Px(y0 - 8), MarkupText(s->name));
        legend += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"14\" height=\"3\" fill=\"%3\"/>")
                      .arg(Px(at - 19), Px(y0 - 13), MarkupText(s->colour));
        at -= 32;
    }
    svg += legend + QLatin1Char('\n');
    svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"none\" stroke=\"#888\"/>\n")
               .arg(Px(x0), Px(y0), Px(x1 - x0), Px(y1 - y0));
    svg += QStringLiteral("</svg>");
    return svg;
}
