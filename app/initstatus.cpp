#include "app/initstatus.h"

#include "instruments/instrumentsetup.h"

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

void ShowInitDone(QMainWindow *window, const QString &instrument, const SetupOutcome &outcome)
{
    QApplication::restoreOverrideCursor();
    window->statusBar()->showMessage(SetupOutcomeText(instrument, outcome));
}
