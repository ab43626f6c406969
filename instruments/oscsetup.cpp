#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "instruments/setupcommands.h"
#include "instruments/visasession.h"
#include "shared/measstate.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>

void MainWindow::on_OsInit_clicked()
{
    form->OsInit->setText(QStringLiteral("Init"));
    QCoreApplication::processEvents(); // repaint the button before the blocking I/O

    TrgLevel = SetupValue(form->OsTrgLvl->text());
    SetupFlags flags;
    flags.reset = form->OsRst->checkState() != Qt::Unchecked;

    // Opening, the time-out, the error query and the reset never decide the
    // outcome: the type sequence runs anyway and fails on a dead session.
    if (ReopenSession(RmHdl, form->OsIp->text(), OsHdl) == VI_SUCCESS
        && VisaSetAttribute(OsHdl, VI_ATTR_TMO_VALUE, SetupIoTimeoutMs) == VI_SUCCESS)
        RunSetupSequence(OsHdl, OsCheckSteps(), flags);

    flags.ifDemod = form->SaIfDem->isChecked();
    const SetupTable steps = OsTypIdx == 0 ? OrvixSteps(TrgLevel) : BenloSteps(TrgLevel);
    const ViStatus status = RunSetupSequence(OsHdl, steps, flags);

    form->OsInit->setText(status == VI_SUCCESS ? QStringLiteral("Ready") : QStringLiteral("Init"));
    UndimStart();
}
