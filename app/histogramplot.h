// Both runs' histograms of each path, overlaid, as one PNG: one plot per
// path measured in both, drawn by Qwt into an image (no window is shown,
// but a QApplication must exist).
#pragma once

#include "measurement/runjson.h"

#include <QImage>
#include <QString>

QImage HistogramImage(const StoredRun &a, const QString &nameA, const StoredRun &b, const QString &nameB);

// False with the reason when the file could not be written.
bool WriteHistogramPng(const QString &path, const QImage &image, QString *error);
