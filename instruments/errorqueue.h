// The instrument's own word on a set-up: its SCPI error queue. A command the
// instrument does not know, or cannot carry out, still completes the
// "*OPC?" that follows it, so the status of every step can be a success
// while the instrument ignored half of them. Only the queue tells.
#pragma once

#include "shared/visatypes.h"

#include <QString>

#include <functional>

// Read until the queue says "no error", at most this many times: an
// instrument that never does must not hold the set-up.
constexpr int MaxErrorQueueReads = 20;
extern const char ErrorQueueQuery[]; // "SYST:ERR?\n"

struct ErrorQueueReport
{
    bool answered = false; // at least one read got an entry back
    int errors = 0;        // entries other than "no error" and the overflow mark
    // Entries were lost (-350, "Queue overflow"), or the reads ran out before
    // "no error": more went wrong than `errors` says.
    bool more = false;
    QString first; // the first entry as the instrument worded it: -113,"Undefined header"

    bool refused() const { return errors > 0 || more; }
};

// One entry, "<code>,<text>" (the code may carry a sign; "+0" and "0" are
// no error). False for a reply that is no entry.
bool ParseErrorEntry(const QString &reply, int *code);

// Reads the queue through query (one "SYST:ERR?\n" per call, the reply into
// its second argument). A read that fails or gets no entry ends the reading
// without counting against the instrument: one that does not keep a queue
// is not failed for that.
ErrorQueueReport ReadErrorQueue(const std::function<ViStatus(const QString &command, QString &reply)> &query);
ErrorQueueReport ReadErrorQueue(ViSession vi);

// "refused 3 set-up commands (first: -113,"Undefined header")", "refused at
// least 10 ...".
QString RefusalText(const ErrorQueueReport &report);
