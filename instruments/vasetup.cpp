#include "app/mainwindow.h"
#include "instruments/setupcommands.h"
#include "instruments/visasession.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>

void MainWindow::on_VaInit_clicked()
{
    auto *button = findChild<QPushButton *>(QStringLiteral("VaInit"));
    button->setText(QStringLiteral("Init"));
    QCoreApplication::processEvents(); // repaint the button before the blocking I/O

    SetupFlags flags;
    flags.reset = findChild<QCheckBox *>(QStringLiteral("VaRst"))->checkState() != Qt::Unchecked;

    // Unlike the other two, every failure from the open on ends this set-up.
    ViStatus status = ReopenSession(RmHdl, findChild<QLineEdit *>(QStringLiteral("VaIp"))->text(), VaHdl);
    if (status == VI_SUCCESS)
        status = VisaSetAttribute(VaHdl, VI_ATTR_TMO_VALUE, VaIoTimeoutMs);
    if (status == VI_SUCCESS) {
        const double threshold = findChild<QLineEdit *>(QStringLiteral("VaThres"))->text().toDouble();
        status = RunSetupSequence(VaHdl, VaSteps(threshold), flags);
    }

    button->setText(status == VI_SUCCESS ? QStringLiteral("Ready") : QStringLiteral("Init"));
    UndimStart();
}
