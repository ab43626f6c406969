#include "app/mainwindow.h"

void MainWindow::on_SaInit_clicked() {}
