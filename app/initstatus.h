// What an Init button tells the operator beyond its "Ready" / "Init": the
// status bar says what the set-up is doing and how it ended.
#pragma once

#include <QString>

class QMainWindow;
struct SetupOutcome;

// "Connecting to <resource>…" with a busy cursor, painted before the
// blocking I/O begins.
void ShowInitBusy(QMainWindow *window, const QString &resource);

// Ends the busy state and shows the outcome line of SetupOutcomeText,
// followed by note when there is one ("Oscilloscope: ready; ...").
void ShowInitDone(QMainWindow *window, const QString &instrument, const SetupOutcome &outcome,
                  const QString &note = QString());

// What the set-up made of a typed value that is no number: "Trigger Level
// '0.0x5' is not a number, 0 V was set"; empty for a number.
QString TypedValueNote(const QString &field, const QString &text, const QString &unit);
