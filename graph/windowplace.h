// Where a window of ours was last, kept between program runs in a small INI
// file of its own next to the settings file (which keeps its thirteen keys).
#pragma once

#include <QString>

class QWidget;

// <DataDir>/windows.ini
QString WindowPlaceFile();

// Puts the window where it was when last saved under `key`; false (the
// window untouched) when nothing was saved yet. Qt moves a place that is
// off every screen back onto one.
bool RestoreWindowPlace(QWidget *window, const QString &key);

void SaveWindowPlace(const QWidget *window, const QString &key);
