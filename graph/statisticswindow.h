// The Statistics window: the run the graph dialog shows, measurement by
// measurement (a table to select and copy), the spread of each path, a
// histogram per path and the delays against the measurement index.
//
// Not modal. It keeps its own copy of the run (without traces), so a later
// run never leaves it showing freed or half-replaced data; the graph dialog
// hands it the next run when it comes up. Who owns it: see Graph.
#pragma once

#include "measurement/runrecord.h"

#include <QWidget>

class DelayTableModel;
class PlotZoom;
class QLabel;
class QPushButton;
class QTableView;
class QTableWidget;
class QwtPlot;

class StatisticsWindow : public QWidget
{
    Q_OBJECT

public:
    // A window of its own, also when it has a parent (which then owns it).
    explicit StatisticsWindow(QWidget *parent = nullptr);

    void showRun(const RunRecord &run);
    const RunRecord &run() const { return run_; }

    // Writes the run's delay table to path, atomically; empty when written,
    // else the reason.
    QString exportCsv(const QString &path) const;

    QLabel *summary = nullptr;
    QTableView *table = nullptr;
    DelayTableModel *model = nullptr;
    QTableWidget *stats = nullptr;
    QTableWidget *uncertainty = nullptr; // fine and corrected means, their uncertainties
    QwtPlot *histograms[3] = {nullptr, nullptr, nullptr}; // RF, HDMI, sink
    QwtPlot *byIndex = nullptr;
    PlotZoom *byIndexZoom = nullptr;
    QPushButton *copyButton = nullptr;
    QPushButton *exportButton = nullptr;
    QPushButton *closeButton = nullptr;

public slots:
    // The selected cells as tab-separated text on the clipboard.
    void copySelection();
    // Asks where, then writes the delay table there.
    void exportCsvAs();

private:
    RunRecord run_;
};
