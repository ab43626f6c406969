#include "app/mainwindow.h"
#include "graph/graph.h"
#include "shared/measstate.h"

void MainWindow::on_Start_clicked()
{
    Meas(&d1, &d2, &d3, &t);
    Graph graph;
    graph.exec();
}
