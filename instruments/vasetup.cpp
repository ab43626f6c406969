#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "instruments/setupcommands.h"
#include "instruments/visasession.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>

void MainWindow::on_VaInit_clicked()
{
    form->VaInit->setText(QStringLiteral("Init"));
    QCoreApplication::processEvents(); // repaint the button before the blocking I/O

    SetupFlags flags;
    flags.reset = form->VaRst->checkState() != Qt::Unchecked;

    // Unlike the other two, every failure from the open on ends this set-up.
    ViStatus status = ReopenSession(RmHdl, form->VaIp->text(), VaHdl);
    if (status == VI_SUCCESS)
        status = VisaSetAttribute(VaHdl, VI_ATTR_TMO_VALUE, VaIoTimeoutMs);
    if (status == VI_SUCCESS) {
        const double threshold = SetupValue(form->VaThres->text());
        status = RunSetupSequence(VaHdl, VaSteps(threshold), flags);
    }

    form->VaInit->setText(status == VI_SUCCESS ? QStringLiteral("Ready") : QStringLiteral("Init"));
    UndimStart();
}
