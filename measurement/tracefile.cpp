#include "app/mainwindow.h"

int MainWindow::SaveBinFile(QString, QVector<double>, ViInt32) { return -1; }
int MainWindow::LoadBinFile(QString, QVector<double> *, ViInt32 *) { return -1; }
