#include "app/mainwindow.h"

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent) {}
MainWindow::~MainWindow() = default;
void MainWindow::UndimStart() {}
void MainWindow::on_VaHdmi_clicked(bool) {}
void MainWindow::on_OsTyp_currentIndexChanged(int) {}
