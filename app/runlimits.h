// The --limit checks against a finished run's statistics.
#pragma once

#include "app/commandline.h"
#include "measurement/runstats.h"
#include "measurement/uncertainty.h"

#include <QString>

struct LimitCheck
{
    Limit limit;
    double value = 0.0; // the run's figure, ms; NaN when it has none
    bool exceeded = false;
    // --guarded only: the figure is the corrected one, U its expanded
    // uncertainty (NaN when unknown), and a limit within figure +/- U is
    // neither met nor exceeded.
    bool guarded = false;
    double uncertainty = 0.0;
    bool inconclusive = false;
};

// A figure without a value (no measurement of the path had one, or the path
// was not measured) counts as exceeded: a check that cannot be made must not
// pass a build.
LimitCheck CheckLimit(const Limit &limit, const RunStats &stats);

// --guarded: the figure of the corrected delays with its expanded
// uncertainty U, the mean's own for the mean and, for the median, p95 and
// max, the largest of a single delay's. Met when figure + U <= limit,
// exceeded when figure - U > limit (or without a figure), otherwise
// inconclusive (also when U is unknown).
LimitCheck CheckGuardedLimit(const Limit &limit, const RunRecord &run);

// "Source->Sink mean 120.013 ms <= 150 ms: met", "Source->Sink p95 161.2 ms
// exceeds 160 ms", "Source->HDMI mean has no value: limit 40 ms not met".
QString LimitCheckText(const LimitCheck &check);
