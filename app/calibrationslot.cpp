// The window's calibration: the status bar's permanent button shows which
// one the delays are corrected with, and opens the dialog to change it.
#include "app/calibrationdialog.h"
#include "app/calibrationstore.h"
#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "measurement/uncertaintytext.h"

#include <QDir>
#include <QMessageBox>
#include <QPushButton>

void MainWindow::LoadCalibrationInUse()
{
    CalibrationError.clear();
    if (!LoadRememberedCalibration(CfgFile, &CalibrationInUse, &CalibrationError))
        CalibrationInUse = Calibration();
    ShowCalibration();
}

void MainWindow::ShowCalibration()
{
    if (!CalibrationError.isEmpty()) {
        form->CalStatus->setText(tr("Calibration unreadable"));
        form->CalStatus->setToolTip(tr("Not used: %1").arg(CalibrationError));
        return;
    }
    form->CalStatus->setText(CalibrationInUse.title());
    form->CalStatus->setToolTip(tr("Delays are corrected with: %1").arg(CalibrationSummary(CalibrationInUse)));
}

void MainWindow::on_CalStatus_clicked()
{
    CalibrationDialog dialog(CalibrationInUse, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    CalibrationInUse = dialog.calibration();
    CalibrationError.clear();
    const QString error = RememberCalibration(CfgFile, CalibrationInUse);
    if (!error.isEmpty())
        QMessageBox::warning(this, tr("Calibration Not Kept"),
                             tr("The calibration is used until the window closes, but could not be kept in %1: %2")
                                 .arg(QDir::toNativeSeparators(RememberedCalibrationFile(CfgFile)), error));
    ShowCalibration();
}
