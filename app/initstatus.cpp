#include "app/initstatus.h"

#include "instruments/instrumentsetup.h"
#include "shared/typednumber.h"

#include <QApplication>
#include <QMainWindow>
#include <QStatusBar>

void ShowInitBusy(QMainWindow *window, const QString &resource)
{
    window->statusBar()->showMessage(QStringLiteral("Connecting to %1\u2026").arg(resource));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // One pass, so the button text, the message and the cursor are painted
    // before the set-up blocks the event loop.
    QCoreApplication::processEvents();
}

void ShowInitDone(QMainWindow *window, const QString &instrument, const SetupOutcome &outcome, const QString &note)
{
    QApplication::restoreOverrideCursor();
    window->statusBar()->showMessage(SetupOutcomeText(instrument, outcome)
                                     + (note.isEmpty() ? QString() : QStringLiteral("; ") + note));
}

QString TypedValueNote(const QString &field, const QString &text, const QString &unit)
{
    bool ok = false;
    TypedNumber(text, &ok);
    if (ok)
        return QString();
    // The set-up sends 0 for it, as it always has; the operator learns so.
    return QStringLiteral("%1 '%2' is not a number, 0 %3 was set").arg(field, text, unit);
}
