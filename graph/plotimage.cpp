#include "graph/plotimage.h"

#include <QFileInfo>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSvgGenerator>

#include <qwt_plot.h>
#include <qwt_plot_renderer.h>

#include <algorithm>

namespace {

// Vector formats are laid out in the screen's pixels at this resolution.
constexpr int VectorDpi = 96;

bool Fail(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

} // namespace

ImageFormat ImageFormatOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("png"))
        return ImageFormat::Png;
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        return ImageFormat::Jpeg;
    if (suffix == QLatin1String("svg"))
        return ImageFormat::Svg;
    if (suffix == QLatin1String("pdf"))
        return ImageFormat::Pdf;
    return ImageFormat::Unknown;
}

QString ImageFormatNames()
{
    return QStringLiteral("PNG, JPEG, SVG or PDF (.png, .jpg, .svg, .pdf)");
}

QString ImageFileFilter()
{
    return QStringLiteral("PNG image (*.png);;SVG drawing (*.svg);;PDF document (*.pdf);;JPEG image (*.jpg *.jpeg)");
}

bool WritePicture(const QString &path, const QSize &size,
                  const std::function<void(QPainter &painter, const QRectF &area)> &draw, QString *error)
{
    const ImageFormat format = ImageFormatOf(path);
    if (format == ImageFormat::Unknown)
        return Fail(error, QStringLiteral("the name does not end in a known picture format: %1").arg(ImageFormatNames()));
    if (size.isEmpty())
        return Fail(error, QStringLiteral("there is nothing to draw"));

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Fail(error, file.errorString());
    const QRectF area(QPointF(0, 0), QSizeF(size));
    bool drawn = true;
    switch (format) {
    case ImageFormat::Png:
    case ImageFormat::Jpeg: {
        // JPEG has no transparency; white behind everything, as on screen.
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        draw(painter, area);
        painter.end();
        drawn = image.save(&file, format == ImageFormat::Png ? "PNG" : "JPEG");
        break;
    }
    case ImageFormat::Svg: {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(size);
        svg.setViewBox(area);
        svg.setResolution(VectorDpi);
        QPainter painter;
        drawn = painter.begin(&svg);
        if (drawn) {
            painter.fillRect(area, Qt::white);
            draw(painter, area);
            drawn = painter.end();
        }
        break;
    }
    case ImageFormat::Pdf: {
        QPdfWriter pdf(&file);
        pdf.setResolution(VectorDpi);
        pdf.setPageSize(QPageSize(QSizeF(size) * 72.0 / VectorDpi, QPageSize::Point));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter;
        drawn = painter.begin(&pdf);
        if (drawn) {
            draw(painter, area);
            drawn = painter.end();
        }
        break;
    }
    case ImageFormat::Unknown:
        break;
    }
    if (!drawn) {
        file.cancelWriting();
        return Fail(error, QStringLiteral("the picture could not be encoded"));
    }
    if (!file.commit())
        return Fail(error, file.errorString());
    return true;
}

bool SavePlots(const QList<QwtPlot *> &plots, const QString &path, QString *error)
{
    // A plot never laid out (its window not shown yet) at its least size.
    auto sizeOf = [](const QwtPlot *plot) { return plot->size().expandedTo(plot->minimumSize()); };
    QSize size(0, 0);
    for (const QwtPlot *plot : plots) {
        size.rwidth() += sizeOf(plot).width();
        size.rheight() = std::max(size.height(), sizeOf(plot).height());
    }
    return WritePicture(path, size,
                        [&plots, &sizeOf](QPainter &painter, const QRectF &area) {
                            QwtPlotRenderer renderer;
                            double x = area.left();
                            for (QwtPlot *plot : plots) {
                                const QSize s = sizeOf(plot);
                                renderer.render(plot, &painter, QRectF(x, area.top(), s.width(), s.height()));
                                x += s.width();
                            }
                        },
                        error);
}
