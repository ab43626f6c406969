#include "app/datapaths.h"

#include <QDir>
#include <QRegExp>
#include <QStandardPaths>
#include <QStringList>

QString AppNameFromPath(const QString &exePath)
{
    const QString fileName = exePath.split(QRegExp(QStringLiteral("[/\\\\]"))).last();
    return fileName.section(QLatin1Char('.'), 0, 0);
}

QString DataDirFromLocation(const QString &location)
{
    const QStringList parts = location.split(QRegExp(QStringLiteral("[/\\\\]")), Qt::KeepEmptyParts);
    QString dir;
    for (int i = 0; i < parts.size() - 1; ++i)
        dir += parts.at(i) + QLatin1Char('/');
    return dir + QStringLiteral("Velmarsk/") + parts.last();
}

QString CfgFilePath(const QString &dataDir, const QString &appName)
{
    return dataDir + QLatin1Char('/') + appName + QStringLiteral(".cfg");
}

QString UserDataDir()
{
    return DataDirFromLocation(QStandardPaths::writableLocation(QStandardPaths::DataLocation));
}

QString OutDataDir(const QString &outDir, const QString &dataDir)
{
    const QString prefix = dataDir.split(QRegExp(QStringLiteral("[/\\\\]")), Qt::KeepEmptyParts).last();
    return QDir::cleanPath(outDir) + QLatin1Char('/') + prefix;
}
