#include "app/mainwindow.h"

void MainWindow::on_Start_clicked() {}
