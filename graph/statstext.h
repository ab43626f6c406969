// How a path's statistics read on screen: the graph's result-box tooltips
// and the Statistics window's table share these words and number formats.
#pragma once

#include "measurement/runstats.h"

#include <QString>
#include <QStringList>

// A delay in ms with three decimals, as the result boxes show it; "n/a"
// where there is none. Never in the locale's format.
QString StatsNumber(double ms);

// "Source->RF: n = 9 (1 without a value)\nstandard deviation 1.234 ms\n
// minimum ..., maximum ...\n95th percentile ..." or "... not measured".
QString PathStatsToolTip(const DelayPathInfo &path, const PathStats &s);

// The Statistics window's rows: a name per row, and one path's cells.
QStringList StatsRowNames();
QStringList StatsCells(const PathStats &s);
