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
    // Instruments set up for another family than the Type box shows would
    // measure on another time window than the delays are computed on.
    const OscType &shown = OscTypeOf(OsTypIdx);
    if (OsUsed.type != &shown || SaUsed.type != &shown) {
        QMessageBox::warning(this, tr("Start"),
                             tr("The instruments are not set up for the Type %1: Init the oscilloscope and the "
                                "spectrum analyzer again.")
                                 .arg(QLatin1String(shown.name)));
        return;
    }
    Meas(&d1, &d2, &d3, &t);
    Graph graph;
    // The Statistics window outlives the dialog: it belongs to this window.
    graph.setStatisticsOwner(this);
    graph.exec();
}
