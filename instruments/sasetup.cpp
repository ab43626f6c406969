#include "app/initstatus.h"
#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "instruments/instrumentsetup.h"
#include "instruments/setupsequence.h"
#include "shared/measstate.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

void MainWindow::on_SaInit_clicked()
{
    form->SaInit->setText(QStringLiteral("Init"));
    ShowInitBusy(this, form->SaIp->text());

    CenterFreq = SetupValue(form->SaFrq->text());
    SaSetupRequest request;
    request.resource = form->SaIp->text();
    request.reset = form->SaRst->checkState() != Qt::Unchecked;
    request.centerFreq = CenterFreq;
    request.type = &OscTypeOf(OsTypIdx);
    const SetupOutcome outcome = SetUpAnalyzer(RmHdl, SaHdl, request);
    SaUsed = request;
    SaIdentity = outcome.identity;

    form->SaInit->setText(outcome.ready() ? QStringLiteral("Ready") : QStringLiteral("Init"));
    ShowInitDone(this, QStringLiteral("Spectrum analyzer"), outcome,
                 TypedValueNote(QStringLiteral("Center Frequency"), form->SaFrq->text(), QStringLiteral("Hz")));
    UndimStart();
}
