// VISA statuses in the words an operator reads in a message.
#pragma once

#include "shared/visatypes.h"

#include <QString>

// "no such resource", "connection refused", "no answer within 5 s",
// "connection closed", "unknown resource-string form", ...; a status
// without words of its own is given as its number. timeoutMs is the
// time-out that applied to the failing call, for the time-out's wording.
QString VisaStatusText(ViStatus status, ViUInt32 timeoutMs);

// What the instrument itself said about the last call on vi that failed
// with status (a HiSLIP server's error message, say), or empty.
QString InstrumentSaid(ViSession vi, ViStatus status);
