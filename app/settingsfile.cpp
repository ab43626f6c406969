#include "app/settingsfile.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

namespace {

// The keys in the order both operations handle them. Qt's INI encoding
// escapes the spaces (%20) and writes the group General as [%General].
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

// A check box is stored as its check state, the integer 0 or 2; reading it
// back as a boolean gives checked for anything but empty, "0" or "false".
int CheckState(bool checked)
{
    return checked ? 2 : 0;
}

// QSettings says only that writing failed; the file system says why.
QString WriteError(const QString &fnam)
{
    QSaveFile probe(fnam);
    if (!probe.open(QIODevice::WriteOnly))
        return probe.errorString();
    probe.cancelWriting();
    return QStringLiteral("the file could not be written");
}

// Qt's INI reader turns an unquoted value with a comma into a list; a hand-
// written resource string ("TCPIP::host,4000::INSTR") comes back whole.
// (Values this program writes are quoted and read back as they were.)
QString TextValue(const QSettings &s, const QString &key, const QString &fallback)
{
    const QVariant v = s.value(key, fallback);
    if (v.type() == QVariant::StringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
}

} // namespace

BenchSettings ReadBenchSettings(const QString &fnam)
{
    QSettings s(fnam, QSettings::IniFormat);
    const BenchSettings d; // what a missing key gives
    BenchSettings b;
    b.osIp = TextValue(s, OsIpKey, d.osIp);
    b.osReset = s.value(OsRstKey, d.osReset).toBool();
    b.osType = s.value(OsTypKey, d.osType).toInt();
    b.trgLevel = s.value(OsTrgLvlKey, d.trgLevel).toDouble();
    b.saIp = TextValue(s, SaIpKey, d.saIp);
    b.saReset = s.value(SaRstKey, d.saReset).toBool();
    b.centerFreq = s.value(SaFrqKey, d.centerFreq).toDouble();
    b.ifDemod = s.value(SaIfDemKey, d.ifDemod).toBool();
    b.vaIp = TextValue(s, VaIpKey, d.vaIp);
    b.vaReset = s.value(VaRstKey, d.vaReset).toBool();
    b.threshold = s.value(VaThresKey, d.threshold).toDouble();
    b.hdmi = s.value(VaHdmiKey, d.hdmi).toBool();
    b.saveData = s.value(SaveDataKey, d.saveData).toBool();
    return b;
}

bool WriteBenchSettings(const QString &fnam, const BenchSettings &b, QString *error)
{
    QSettings s(fnam, QSettings::IniFormat);
    s.setValue(OsIpKey, b.osIp);
    s.setValue(OsRstKey, CheckState(b.osReset));
    s.setValue(OsTypKey, b.osType);
    s.setValue(OsTrgLvlKey, b.trgLevel);
    s.setValue(SaIpKey, b.saIp);
    s.setValue(SaRstKey, CheckState(b.saReset));
    s.setValue(SaFrqKey, b.centerFreq);
    s.setValue(SaIfDemKey, CheckState(b.ifDemod));
    s.setValue(VaIpKey, b.vaIp);
    s.setValue(VaRstKey, CheckState(b.vaReset));
    s.setValue(VaThresKey, b.threshold);
    s.setValue(VaHdmiKey, b.hdmi);
    s.setValue(SaveDataKey, CheckState(b.saveData));
    // Writes the file, creating missing directories on its path; foreign
    // keys and sections read from it are written back unchanged.
    s.sync();
    if (s.status() == QSettings::NoError)
        return true;
    if (error)
        *error = WriteError(fnam);
    return false;
}
