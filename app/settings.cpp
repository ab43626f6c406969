#include "app/mainwindow.h"

#include "app/mainwindowform.h"
#include "shared/measstate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSettings>

// The keys in the order both operations handle them. Qt's INI encoding
// escapes the spaces (%20) and writes the group General as [%General].
namespace {
const QString OsIpKey = QStringLiteral("Oscilloscope/IP Address");
const QString OsRstKey = QStringLiteral("Oscilloscope/Reset");
const QString OsTypKey = QStringLiteral("Oscilloscope/Type");
const QString OsTrgLvlKey = QStringLiteral("Oscilloscope/Trigger Level");
const QString SaIpKey = QStringLiteral("Spectrum Analyzer/IP Address");
const QString SaRstKey = QStringLiteral("Spectrum Analyzer/Reset");
const QString SaFrqKey = QStringLiteral("Spectrum Analyzer/Center Frequency");
const QString SaIfDemKey = QStringLiteral("Spectrum Analyzer/IF Demod");
const QString VaIpKey = QStringLiteral("Video Analyzer/IP Address");
const QString VaRstKey = QStringLiteral("Video Analyzer/Reset");
const QString VaThresKey = QStringLiteral("Video Analyzer/Threshold");
const QString VaHdmiKey = QStringLiteral("Video Analyzer/HDMI Delay");
const QString SaveDataKey = QStringLiteral("General/Save Data");

// Locale-free: a German desktop must still read and show 0.027, not 0,027.
QString FormatNumber(const QVariant &value)
{
    return QString::number(value.toDouble(), 'g', 6);
}

// The check state as the integer 0 (unchecked) or 2 (checked); reading it
// back as a boolean gives checked for anything but empty, "0" or "false".
int CheckState(const QCheckBox *box)
{
    return static_cast<int>(box->checkState());
}

// A text that is not a number is stored as 0.
double NumberOf(const QLineEdit *edit)
{
    return edit->text().toDouble();
}
} // namespace

int MainWindow::LoadCfgFile(QString fnam)
{
    QSettings s(fnam, QSettings::IniFormat);

    form->OsIp->setText(s.value(OsIpKey, QString::fromLatin1(DefaultOsIp)).toString());
    form->OsRst->setChecked(s.value(OsRstKey, false).toBool());
    // Out of range (e.g. 5) leaves the box without a current item: -1.
    form->OsTyp->setCurrentIndex(s.value(OsTypKey, 1).toInt());
    OsTypIdx = form->OsTyp->currentIndex();
    form->OsTrgLvl->setText(FormatNumber(s.value(OsTrgLvlKey, 0.027)));

    form->SaIp->setText(s.value(SaIpKey, QString::fromLatin1(DefaultSaIp)).toString());
    form->SaRst->setChecked(s.value(SaRstKey, false).toBool());
    form->SaFrq->setText(FormatNumber(s.value(SaFrqKey, 5.192e9)));
    form->SaIfDem->setChecked(s.value(SaIfDemKey, false).toBool());

    form->VaIp->setText(s.value(VaIpKey, QString::fromLatin1(DefaultVaIp)).toString());
    form->VaRst->setChecked(s.value(VaRstKey, false).toBool());
    form->VaThres->setText(FormatNumber(s.value(VaThresKey, 35.0)));
    MeasHdmi = s.value(VaHdmiKey, false).toBool();

    form->SaveData->setChecked(s.value(SaveDataKey, false).toBool());

    // Set by code, so on_VaHdmi_clicked does not run; mirror it here.
    form->VaHdmi->setChecked(MeasHdmi);
    EnableVaControls(form, MeasHdmi);
    return 0;
}

int MainWindow::SaveCfgFile(QString fnam)
{
    QSettings s(fnam, QSettings::IniFormat);

    s.setValue(OsIpKey, form->OsIp->text());
    s.setValue(OsRstKey, CheckState(form->OsRst));
    s.setValue(OsTypKey, OsTypIdx);
    s.setValue(OsTrgLvlKey, NumberOf(form->OsTrgLvl));

    s.setValue(SaIpKey, form->SaIp->text());
    s.setValue(SaRstKey, CheckState(form->SaRst));
    s.setValue(SaFrqKey, NumberOf(form->SaFrq));
    s.setValue(SaIfDemKey, CheckState(form->SaIfDem));

    s.setValue(VaIpKey, form->VaIp->text());
    s.setValue(VaRstKey, CheckState(form->VaRst));
    s.setValue(VaThresKey, NumberOf(form->VaThres));
    s.setValue(VaHdmiKey, MeasHdmi);

    s.setValue(SaveDataKey, CheckState(form->SaveData));
    // Leaving scope writes the file, creating missing directories on its path;
    // foreign keys and sections read from it are written back unchanged.
    return 0;
}
