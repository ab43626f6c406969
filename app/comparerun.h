// --compare: two stored runs side by side, and their histograms.
#pragma once

#include "app/commandline.h"

// Reads both run records, prints the comparison on standard output and,
// with --plot, writes the histograms (a QApplication on the offscreen
// platform is created for that alone). Returns the exit status.
int CompareRuns(const CommandLine &cl, int argc, char *argv[]);
