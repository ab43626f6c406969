// Ctrl-C and SIGTERM during a headless run: the first only raises a flag
// that the run polls between exchanges, so the instruments are put back into
// free run and what was kept is written; a second one ends the program at
// once, as the shell's default would, after saying what is left undone.
#pragma once

#include <QString>

void InstallStopSignals();

// The first of SIGINT or SIGTERM that arrived, 0 before any.
int StopSignal();

// What a second signal would leave undone, in words ("the 7 measurements
// kept were not written ..."); the program keeps it current as it goes.
// Printed on standard error, on a line of its own, before the program ends.
void SetUnwrittenNote(const QString &text);
