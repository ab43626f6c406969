// Plots saved as pictures, in the format the file name's suffix names: PNG,
// JPEG, SVG or PDF. Used by the Statistics window's "Save image…" and by the
// command line's --plot.
#pragma once

#include <QList>
#include <QSize>
#include <QString>

#include <functional>

class QPainter;
class QRectF;
class QwtPlot;

enum class ImageFormat { Unknown, Png, Jpeg, Svg, Pdf };

// By the suffix, in any letter case: .png, .jpg or .jpeg, .svg, .pdf.
ImageFormat ImageFormatOf(const QString &path);

// "PNG, JPEG, SVG or PDF (.png, .jpg, .svg, .pdf)", for messages.
QString ImageFormatNames();

// The file dialog's filter, PNG first.
QString ImageFileFilter();

// Draws a picture of `size` pixels into path, in its format (SVG and PDF as
// vectors, at 96 dots per inch), under a temporary name renamed when
// complete. False, with the reason in *error, for an unknown suffix or a
// file that could not be written.
bool WritePicture(const QString &path, const QSize &size,
                  const std::function<void(QPainter &painter, const QRectF &area)> &draw, QString *error);

// The plots side by side, each at its size on screen, on white.
bool SavePlots(const QList<QwtPlot *> &plots, const QString &path, QString *error);
