#include "graph/windowplace.h"

#include "app/datapaths.h"

#include <QSettings>
#include <QWidget>

QString WindowPlaceFile()
{
    return UserDataDir() + QStringLiteral("/windows.ini");
}

bool RestoreWindowPlace(QWidget *window, const QString &key)
{
    const QSettings s(WindowPlaceFile(), QSettings::IniFormat);
    const QByteArray geometry = s.value(key + QStringLiteral("/geometry")).toByteArray();
    return !geometry.isEmpty() && window->restoreGeometry(geometry);
}

void SaveWindowPlace(const QWidget *window, const QString &key)
{
    QSettings s(WindowPlaceFile(), QSettings::IniFormat);
    s.setValue(key + QStringLiteral("/geometry"), window->saveGeometry());
}
