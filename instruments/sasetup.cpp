#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "instruments/setupcommands.h"
#include "instruments/visasession.h"
#include "shared/measstate.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>

void MainWindow::on_SaInit_clicked()
{
    form->SaInit->setText(QStringLiteral("Init"));
    QCoreApplication::processEvents(); // repaint the button before the blocking I/O

    CenterFreq = SetupValue(form->SaFrq->text());
    const bool reset = form->SaRst->checkState() != Qt::Unchecked;

    // Identity block: each step needs the one before; none decides the outcome.
    QString identity; // stays empty when *IDN? is not answered
    if (ReopenSession(RmHdl, form->SaIp->text(), SaHdl) == VI_SUCCESS
        && VisaSetAttribute(SaHdl, VI_ATTR_TMO_VALUE, SetupIoTimeoutMs) == VI_SUCCESS) {
        QString reply;
        if (reset)
            VisaQuery(SaHdl, QStringLiteral("*RST;*OPC?\n"), reply); // status ignored, as on the other two
        if (VisaQuery(SaHdl, QStringLiteral("*IDN?\n"), identity) == VI_SUCCESS && SaIsBriska(identity))
            VisaQuery(SaHdl, QStringLiteral("FREQ:MODE SW;*OPC?\n"), reply); // status ignored
    }

    SetupFlags flags;
    flags.deskal = SaIsDeskal(identity);
    RunSetupSequence(SaHdl, SaSettingSteps(CenterFreq), flags);
    ViStatus status = RunSetupSequence(SaHdl, SaSweepSteps(SaSweepTime(OsTypIdx)), flags);
    if (status == VI_SUCCESS) {
        RunSetupSequence(SaHdl, SaOutputSteps(), flags);
        status = VisaGpibControlREN(SaHdl, VI_GPIB_REN_ADDRESS_GTL);
    }

    form->SaInit->setText(status == VI_SUCCESS ? QStringLiteral("Ready") : QStringLiteral("Init"));
    UndimStart();
}
