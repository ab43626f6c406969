#include "app/mainwindow.h"

bool MainWindow::ReadArray(ViSession, QString, QVector<double> *) { return false; }
bool MainWindow::IntReadArray(ViSession, QVector<double> *) { return false; }
