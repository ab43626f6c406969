#include "shared/version.h"

QString ToolName() { return QStringLiteral("QuenviaCodecTiming"); }
QString ToolVersion() { return QStringLiteral(QUENVIA_VERSION); }
