// The --limit checks against a finished run's statistics.
#pragma once

#include "app/commandline.h"
#include "measurement/runstats.h"

#include <QString>

struct LimitCheck
{
    Limit limit;
    double value = 0.0; // the run's figure, ms; NaN when it has none
    bool exceeded = false;
};

// A figure without a value (no measurement of the path had one, or the path
// was not measured) counts as exceeded: a check that cannot be made must not
// pass a build.
LimitCheck CheckLimit(const Limit &limit, const RunStats &stats);

// "Source->Sink mean 120.013 ms <= 150 ms: met", "Source->Sink p95 161.2 ms
// exceeds 160 ms", "Source->HDMI mean has no value: limit 40 ms not met".
QString LimitCheckText(const LimitCheck &check);
