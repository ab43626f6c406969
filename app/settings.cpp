#include "app/mainwindow.h"

int MainWindow::LoadCfgFile(QString) { return 0; }
int MainWindow::SaveCfgFile(QString) { return 0; }
