// Ctrl-C and SIGTERM during a headless run: the first only raises a flag
// that the run polls between exchanges, so the instruments are put back into
// free run and what was kept is written; a second one ends the program at
// once, as the shell's default would.
#pragma once

void InstallStopSignals();

// The first of SIGINT or SIGTERM that arrived, 0 before any.
int StopSignal();
