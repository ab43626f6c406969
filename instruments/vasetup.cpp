#include "app/initstatus.h"
#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "instruments/instrumentsetup.h"
#include "instruments/setupsequence.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

void MainWindow::on_VaInit_clicked()
{
    form->VaInit->setText(QStringLiteral("Init"));
    ShowInitBusy(this, form->VaIp->text());

    VaSetupRequest request;
    request.resource = form->VaIp->text();
    request.reset = form->VaRst->checkState() != Qt::Unchecked;
    request.threshold = SetupValue(form->VaThres->text());
    const SetupOutcome outcome = SetUpVideoAnalyzer(RmHdl, VaHdl, request);
    VaUsed = request;

    form->VaInit->setText(outcome.ready() ? QStringLiteral("Ready") : QStringLiteral("Init"));
    ShowInitDone(this, QStringLiteral("Video analyzer"), outcome,
                 TypedValueNote(QStringLiteral("Threshold"), form->VaThres->text(), QStringLiteral("%")));
    UndimStart();
}
