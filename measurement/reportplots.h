// The report's pictures of a recorded run, as plots for svgplot.h: a
// histogram per path, the delays against the measurement number, and the
// last measurement's traces with their edges marked. The colours are the
// window's.
#pragma once

#include "measurement/runreport.h"
#include "measurement/svgplot.h"

SvgPlot ReportHistogram(const RecordedRun &run, const DelayPathInfo &path);
SvgPlot ReportTrend(const RecordedRun &run);
// Empty (no series) when traces has none.
SvgPlot ReportTracesPlot(const RecordedRun &run, const ReportTraces &traces);
