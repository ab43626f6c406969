#include "app/mainwindow.h"

int MainWindow::Meas(QVector<double> *, QVector<double> *, QVector<double> *, QVector<double> *) { return 0; }
