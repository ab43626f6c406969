// Instrument set-up sequences as data: each set-up is a table of steps in
// the order they are sent, every step with the condition under which it is
// sent and what a failure does. One runner executes a table.
#pragma once

#include "shared/visatypes.h"

#include <QString>
#include <QVector>

#include <functional>

// Session parameters shared by the three set-ups.
constexpr ViUInt32 SetupOpenTimeoutMs = 10000; // passed to viOpen
constexpr ViUInt32 SetupIoTimeoutMs = 5000;    // oscilloscope and spectrum analyzer
constexpr ViUInt32 VaIoTimeoutMs = 10000;      // the video analyzer answers slower

enum class SendWhen {
    Always,
    IfDemod,      // "Use IF/Video-Demod" checked
    IfReset,      // the instrument's Reset box checked
    UnlessDeskal, // the identity does not name the DESKAL model
};

enum class OnFail {
    End,          // stop the table; the failing status is its result
    LocalThenEnd, // go to local (result not used), then as End
    GoOn,         // status not examined; the next step is sent
};

struct SetupStep {
    SendWhen when;
    QString command; // sent as a query, the reply discarded; GoToLocal instead of a command
    OnFail onFail;
};

// Marks the step that returns the instrument to front-panel operation
// (viGpibControlREN, mode 6) rather than sending a command.
extern const QString GoToLocal;

// The window's choices that decide which conditional steps are sent.
struct SetupFlags {
    bool ifDemod = false;
    bool reset = false;
    bool deskal = false;
};

using SetupTable = QVector<SetupStep>;

// The two things a table does to an instrument.
struct SetupIo {
    std::function<ViStatus(const QString &command)> query; // reply discarded
    std::function<ViStatus()> goToLocal;
};

// Queries and go-to-local on vi through the session layer.
SetupIo SessionIo(ViSession vi);

// Runs the table. Returns VI_SUCCESS when no End or LocalThenEnd step
// failed, otherwise the status of the step that ended it. Success means the
// status is exactly VI_SUCCESS: a warning status counts as a failure. When
// failedStep is given, it receives the step that ended the table.
ViStatus RunSetupSequence(const SetupIo &io, const SetupTable &steps, const SetupFlags &flags,
                          SetupStep *failedStep = nullptr);
ViStatus RunSetupSequence(ViSession vi, const SetupTable &steps, const SetupFlags &flags,
                          SetupStep *failedStep = nullptr);

// A command as the operator reads it in a message: without its completion
// query and line feed ("TRIG:A:LEV1 0.035").
QString CommandShown(const QString &command);
// A step as the operator reads it: its command shown, or "go to local".
QString SetupStepText(const SetupStep &step);

// Closes vi if it is open, then opens resource afresh into vi. LAN
// instruments allow only a few links, so repeated Init clicks must not
// leave earlier sessions behind.
ViStatus ReopenSession(ViSession rm, const QString &resource, ViSession &vi);

// A typed value as the set-ups read it, locale-free: text that is not a
// finite number ("", "abc", "nan", "inf", an overflow) gives 0, so no
// command ever carries "inf" or "nan". A decimal comma is read as the
// decimal point it stands for ("0,027" is 0.027): a German desktop types it.
double SetupValue(const QString &text);

// A real value as commands carry it: "g" style, 6 significant digits,
// independent of the locale (0.035, 1, -0.6, 5.192e+09).
QString SetupNumber(double value);
