// --discover [--timeout MS] [HOST-OR-SUBNET ...]: the instruments on the
// network, one line each with a resource string to paste and the
// instrument's *IDN? answer.
#pragma once

#include "app/findinstruments.h"

#include <QString>
#include <QStringList>

// True when the arguments (argv[0] first) ask for --discover.
bool WantsDiscover(const QStringList &args);

// Parses a --discover command line: --timeout MS (1 to MaxFindTimeoutMs,
// also as --timeout=MS) and hosts or subnets as plain arguments; any other
// option is a mistake. False with a one-line reason in *error.
bool ParseDiscoverArgs(const QStringList &args, FindRequest *request, QString *error);

// The lines --discover prints: "<resource>  <identity>", the resources in
// one column.
QString DiscoverLines(const QVector<FoundInstrument> &found);

// Runs the search and prints its lines on stdout, a summary on stderr.
// ExitDone when something was found, ExitFailure when nothing was,
// ExitUsage for hosts the search cannot use.
int Discover(const FindRequest &request);
