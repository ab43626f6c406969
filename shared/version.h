// The tool's name and version, as the command line and the run records give them.
#pragma once

#include <QString>

QString ToolName();
QString ToolVersion();
