// Both runs' histograms of each path, overlaid, as one picture: one plot
// per path measured in both, drawn by Qwt (no window is shown, but a
// QApplication must exist).
#pragma once

#include "measurement/runjson.h"

#include <QString>

// In the format the name's suffix names (PNG, JPEG, SVG, PDF; see
// graph/plotimage.h). False with the reason when it could not be written.
bool WriteHistogramPicture(const QString &path, const StoredRun &a, const QString &nameA, const StoredRun &b,
                           const QString &nameB, QString *error);
