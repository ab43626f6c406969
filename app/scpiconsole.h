// The SCPI console: --scpi RESOURCE [--timeout MS] [--raw FILE] [COMMAND ...]
// sends each command to one instrument through the tool's own VISA library
// and prints each reply, so a lab can try a resource string and see what an
// instrument answers before pressing Init. Without commands on the command
// line it reads them from standard input, one a line.
#pragma once

#include "shared/visatypes.h"

#include <QString>
#include <QStringList>

// The longest --timeout: an hour.
constexpr ViUInt32 MaxScpiTimeoutMs = 3600000;
// The longest command read from standard input.
constexpr int MaxScpiCommandBytes = 64 * 1024;

struct ScpiConsoleRequest
{
    QString resource;
    ViUInt32 timeoutMs = 2000; // the window's default
    QString rawFile;           // where a block reply is written whole; empty: nowhere
    QStringList commands;      // empty: read standard input
};

// True when the arguments (argv[0] first) ask for the console: one of them
// is --scpi, and none asks for help (which wins, as everywhere).
bool ScpiConsoleWanted(const QStringList &args);

// Options may come anywhere among the commands: no SCPI command starts with
// "--". False with a one-line reason in *error.
bool ParseScpiConsole(const QStringList &args, ScpiConsoleRequest *request, QString *error);

// Runs the console; returns ExitDone when every exchange succeeded,
// ExitUsage for a wrong command line, ExitFailure when the instrument could
// not be opened or any exchange failed (app/commandline.h).
int ScpiConsoleMain(const QStringList &args);
