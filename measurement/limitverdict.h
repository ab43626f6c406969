// A --limit judged against a run, as the report and the JUnit file give it.
// Plain values: the command line judges, these only say what it found.
#pragma once

#include <QString>

enum class LimitOutcome {
    Met,
    Exceeded,     // also a figure without a value
    Inconclusive, // guarded: the limit lies within the figure's uncertainty
};

struct LimitVerdict
{
    QString typed;  // the limit as given: "p95:src2snk<=160"
    QString figure; // which figure of which path: "Source->Sink p95"
    LimitOutcome outcome = LimitOutcome::Met;
    QString text;   // the verdict as the console prints it: figure, limit, uncertainty
    double valueMs = 0.0;       // the run's figure; NaN without one
    double limitMs = 0.0;
    bool guarded = false;       // the corrected figure, judged with its uncertainty
    double uncertaintyMs = 0.0; // guarded: U (k = 2); NaN when unknown
};
