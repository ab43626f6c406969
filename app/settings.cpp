#include "app/mainwindow.h"

#include "app/mainwindowform.h"
#include "app/settingsfile.h"
#include "shared/measstate.h"
#include "shared/typednumber.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

int MainWindow::LoadCfgFile(QString fnam)
{
    const BenchSettings s = ReadBenchSettings(fnam);

    form->OsIp->setText(s.osIp);
    form->OsRst->setChecked(s.osReset);
    // Out of range (e.g. 5) leaves the box without a current item: -1.
    form->OsTyp->setCurrentIndex(s.osType);
    OsTypIdx = form->OsTyp->currentIndex();
    form->OsTrgLvl->setText(FieldNumber(s.trgLevel));

    form->SaIp->setText(s.saIp);
    form->SaRst->setChecked(s.saReset);
    form->SaFrq->setText(FieldNumber(s.centerFreq));
    form->SaIfDem->setChecked(s.ifDemod);

    form->VaIp->setText(s.vaIp);
    form->VaRst->setChecked(s.vaReset);
    form->VaThres->setText(FieldNumber(s.threshold));
    MeasHdmi = s.hdmi;

    form->SaveData->setChecked(s.saveData);

    // Set by code, so on_VaHdmi_clicked does not run; mirror it here.
    form->VaHdmi->setChecked(MeasHdmi);
    EnableVaControls(form.get(), MeasHdmi);
    return 0;
}

int MainWindow::SaveCfgFile(QString fnam)
{
    BenchSettings s;
    s.osIp = form->OsIp->text();
    s.osReset = form->OsRst->isChecked();
    s.osType = OsTypIdx;
    s.trgLevel = TypedNumber(form->OsTrgLvl->text()); // text that is no number is stored as 0
    s.saIp = form->SaIp->text();
    s.saReset = form->SaRst->isChecked();
    s.centerFreq = TypedNumber(form->SaFrq->text());
    s.ifDemod = form->SaIfDem->isChecked();
    s.vaIp = form->VaIp->text();
    s.vaReset = form->VaRst->isChecked();
    s.threshold = TypedNumber(form->VaThres->text());
    s.hdmi = MeasHdmi;
    s.saveData = form->SaveData->isChecked();

    QString why;
    if (!WriteBenchSettings(fnam, s, &why)) {
        SettingsError = QStringLiteral("Could not write %1: %2").arg(fnam, why);
        return -1;
    }
    SettingsError.clear();
    return 0;
}
