// The program without its window: --measure, --compare, --discover, --help,
// --version.
#pragma once

// Parses argv, runs the mode it asks for and returns the exit status
// (ExitStatus in app/commandline.h). Creates its own application object:
// none for --help and --version, a QCoreApplication for a measurement (no
// display needed), the offscreen platform for --plot.
int HeadlessMain(int argc, char *argv[]);
