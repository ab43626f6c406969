// What an Init button tells the operator beyond its "Ready" / "Init": the
// status bar says what the set-up is doing and how it ended.
#pragma once

#include <QString>

class QMainWindow;
struct SetupOutcome;

// "Connecting to <resource>…" with a busy cursor, painted before the
// blocking I/O begins.
void ShowInitBusy(QMainWindow *window, const QString &resource);

// Ends the busy state and shows the outcome line of SetupOutcomeText.
void ShowInitDone(QMainWindow *window, const QString &instrument, const SetupOutcome &outcome);
