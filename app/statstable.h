// The tables the command line prints on standard output: a run's
// statistics, and two stored runs side by side. Plain text, fixed columns,
// locale-free numbers, so scripts and people read them alike.
#pragma once

#include "measurement/runjson.h"
#include "measurement/runstats.h"

#include <QString>

// One column per measured path (the HDMI path only with the option on), one
// row per figure: n, missing, mean, sd, min, median, p5, p95, max and the
// 95 % confidence interval of the mean. Values in ms, "-" where undefined.
QString RunStatsTable(const RunStats &stats);

// The fine and corrected means of a run with their uncertainties, one
// column per measured path, a row per component, then one line per path:
// "Source->Sink: 120.167 ms +/- 0.008 ms (k = 2.02), corrected mean of 40".
QString UncertaintyTable(const RunRecord &run);

// Per path measured in both runs: n, mean, sd, median and p95 of A and B,
// then B's mean minus A's with its 95 % confidence interval (Welch) and
// whether that interval excludes 0. A path measured in only one run says so.
QString CompareTable(const StoredRun &a, const StoredRun &b);
