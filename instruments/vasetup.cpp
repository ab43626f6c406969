#include "app/mainwindow.h"

void MainWindow::on_VaInit_clicked() {}
