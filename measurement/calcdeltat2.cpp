#include "app/mainwindow.h"

void MainWindow::CalcDeltaT2(int, QVector<double> *, QVector<double> *, QVector<double> *, QVector<double> *, double *, double *) {}
