#include "app/mainwindow.h"

void MainWindow::on_OsInit_clicked() {}
