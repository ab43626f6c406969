// One command-log entry as a JSON line, the form benchsim writes with --log:
// {"instrument":"osc","command":"*TRG;*OPC?","reply":"1\n","replySize":2,"unknown":false,"fault":""}
// Replies longer than LogReplyBytes (data blocks) keep only their first
// bytes, read as Latin-1; replySize is the full size. A message longer than
// LogCommandBytes keeps its first bytes too and adds "commandSize".
#pragma once

#include "sim/bench.h"

#include <QByteArray>

namespace benchsim {

QByteArray logLine(const LogEntry &entry);

} // namespace benchsim
