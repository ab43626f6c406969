#include "app/calibrationstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString RememberedCalibrationFile(const QString &settingsFile)
{
    const QFileInfo info(settingsFile);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".calibration.json"));
}

bool LoadRememberedCalibration(const QString &settingsFile, Calibration *calibration, QString *error)
{
    const QString path = RememberedCalibrationFile(settingsFile);
    if (!QFileInfo::exists(path)) {
        *calibration = Calibration();
        return true;
    }
    return ReadCalibrationFile(path, calibration, error);
}

QString RememberCalibration(const QString &settingsFile, const Calibration &calibration)
{
    const QString path = RememberedCalibrationFile(settingsFile);
    if (!calibration.loaded) {
        QFile file(path);
        return !file.exists() || file.remove() ? QString() : file.errorString();
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    return WriteCalibrationFile(path, calibration);
}
