// The dialog shown after every run: the last acquisition's three traces,
// a marker at each edge found in them, and the run's mean delays. Reads the
// shared measurement state once, in the constructor. The plot holds nothing
// else: no legend (the curves are untitled), grid, zoomer or picker; the
// Statistics window's Traces page names the channels and zooms.
//
// Its "Statistics…" button opens the Statistics window for the run it
// shows. That window belongs to the statistics owner (the main window for
// a run started there; the dialog itself when there is none): one window at
// a time, kept after the dialog closes, deleted with its owner. While the
// dialog is up the window counts as the dialog's own transient window, so
// the dialog's modality does not block it.
#pragma once

#include "measurement/runrecord.h"
#include "measurement/tracefiles.h"

#include <QDialog>
#include <QPointer>

#include <memory>

class QPushButton;
class QwtPlotCurve;
class StatisticsWindow;
struct GraphForm;

class Graph : public QDialog
{
    Q_OBJECT

public:
    explicit Graph(QWidget *parent = nullptr);
    ~Graph() override;

    // Call before the dialog is shown. A Statistics window the owner already
    // shows then switches to this dialog's run when it comes up.
    void setStatisticsOwner(QWidget *owner);
    // The owner's Statistics window, or null while there is none.
    StatisticsWindow *statisticsWindow();

    // Attached to the plot, which owns them.
    QwtPlotCurve *Crv1 = nullptr;
    QwtPlotCurve *Crv2 = nullptr;
    QwtPlotCurve *Crv3 = nullptr;
    QPushButton *statisticsButton = nullptr; // in the form's button box
    std::unique_ptr<GraphForm> form;

public slots:
    void showStatistics();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    // The owner given, or the dialog itself (also once that owner is gone).
    QWidget *statisticsOwner();
    // Makes the window transient for to's window: this dialog while it is
    // up, the owner's window afterwards.
    static void attachStatistics(StatisticsWindow *window, QWidget *to);

    RunRecord run_; // the run shown, shared with LastRun until either changes
    MeasurementTraces last_; // its last measurement's traces, as plotted
    QPointer<QWidget> owner_;
};
