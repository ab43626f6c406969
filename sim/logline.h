// One command-log entry as a JSON line, the form benchsim writes with --log:
// {"instrument":"osc","command":"*TRG;*OPC?","reply":"1\n","replySize":2,"unknown":false,"fault":""}
// Replies longer than 256 bytes (data blocks) keep their first 256 bytes,
// read as Latin-1; replySize is the full size.
#pragma once

#include "sim/bench.h"

#include <QByteArray>

namespace benchsim {

QByteArray logLine(const LogEntry &entry);

} // namespace benchsim
