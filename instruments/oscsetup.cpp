#include "app/initstatus.h"
#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "instruments/instrumentsetup.h"
#include "instruments/setupsequence.h"
#include "shared/measstate.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

void MainWindow::on_OsInit_clicked()
{
    form->OsInit->setText(QStringLiteral("Init"));
    ShowInitBusy(this, form->OsIp->text());

    TrgLevel = SetupValue(form->OsTrgLvl->text());
    OscSetupRequest request;
    request.resource = form->OsIp->text();
    request.reset = form->OsRst->checkState() != Qt::Unchecked;
    request.trgLevel = TrgLevel;
    request.ifDemod = form->SaIfDem->isChecked();
    request.type = &OscTypeOf(OsTypIdx);
    const SetupOutcome outcome = SetUpOscilloscope(RmHdl, OsHdl, request);
    OsUsed = request;
    OsUsedTypIdx = OsTypIdx;

    form->OsInit->setText(outcome.ready() ? QStringLiteral("Ready") : QStringLiteral("Init"));
    ShowInitDone(this, QStringLiteral("Oscilloscope"), outcome,
                 TypedValueNote(QStringLiteral("Trigger Level"), form->OsTrgLvl->text(), QStringLiteral("V")));
    UndimStart();
}
