#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "graph/graph.h"
#include "shared/measstate.h"
#include "shared/typednumber.h"

#include <QLineEdit>
#include <QMessageBox>

void MainWindow::on_Start_clicked()
{
    // A count that is no count starts nothing: no command, no file, and no
    // graph that would show an earlier run's traces as new.
    int count = 0;
    if (!TypedCount(form->MeasCnt->text(), &count)) {
        QMessageBox::warning(this, tr("Measurements"),
                             tr("\"%1\" is no number of measurements: enter a whole number from 1 to %2.")
                                 .arg(form->MeasCnt->text())
                                 .arg(MaxMeasCount));
        return;
    }
    Meas(&d1, &d2, &d3, &t);
    Graph graph;
    // The Statistics window outlives the dialog: it belongs to this window.
    graph.setStatisticsOwner(this);
    graph.exec();
}
