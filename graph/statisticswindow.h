// The Statistics window: the run the graph dialog shows, measurement by
// measurement (a table to select and copy), and on its pages the spread of
// each path with a histogram per path ("Figures"), the delays against the
// measurement index ("Trend"), and any measurement's three traces
// ("Traces": the last from memory, earlier ones from their trace files).
//
// Not modal. It keeps its own copy of the run (without traces), so a later
// run never leaves it showing freed or half-replaced data; the graph dialog
// hands it the next run when it comes up, and while it is open it follows
// a run under way (StatisticsFollower). Who owns it: see Graph. It comes
// back at the size and place it was last closed at.
#pragma once

#include "measurement/runrecord.h"
#include "measurement/tracefiles.h"

#include <QWidget>

class DelayTableModel;
class PlotZoom;
class QLabel;
class QModelIndex;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTableView;
class QTableWidget;
class QwtPlot;
class QwtPlotCurve;
class TraceView;

class StatisticsWindow : public QWidget
{
    Q_OBJECT

public:
    // A window of its own, also when it has a parent (which then owns it).
    explicit StatisticsWindow(QWidget *parent = nullptr);
    ~StatisticsWindow() override;

    // A finished run, and the traces of its last measurement (empty when
    // there are none in memory).
    void showRun(const RunRecord &run, const MeasurementTraces &last = MeasurementTraces());
    // A run under way: its measurements so far. Its traces can be shown
    // once it has ended.
    void followRun(const RunRecord &sofar);
    const RunRecord &run() const { return run_; }
    bool following() const { return underWay_; }

    // Writes the run's delay table to path, atomically; empty when written,
    // else the reason.
    QString exportCsv(const QString &path) const;

    enum class Picture { Histograms, Trend, Traces };
    // Saves that page's plots in the format path's suffix names (PNG,
    // JPEG, SVG, PDF); empty when written, else the reason.
    QString saveImage(Picture which, const QString &path) const;

    // Writes the run's report (HTML, measurement/runreport.h) to path,
    // atomically; empty when written, else the reason.
    QString saveReport(const QString &path) const;

    QLabel *summary = nullptr;
    QTableView *table = nullptr;
    DelayTableModel *model = nullptr;
    QTabWidget *pages = nullptr; // Figures, Trend, Traces
    QTableWidget *stats = nullptr;
    QTableWidget *uncertainty = nullptr; // fine and corrected means, their uncertainties
    QwtPlot *histograms[3] = {nullptr, nullptr, nullptr}; // RF, HDMI, sink
    QLabel *notMeasured[3] = {nullptr, nullptr, nullptr}; // in place of a histogram
    QwtPlot *byIndex = nullptr;
    PlotZoom *byIndexZoom = nullptr;
    TraceView *traceView = nullptr;
    // The Traces page's parts, as the page names them.
    QSpinBox *traceIndex = nullptr;
    QLabel *traceNote = nullptr;
    QwtPlot *traces = nullptr;
    QwtPlotCurve *traceCurves[3] = {nullptr, nullptr, nullptr}; // source, RF, sink
    PlotZoom *tracesZoom = nullptr;
    QPushButton *copyButton = nullptr;
    QPushButton *exportButton = nullptr;
    QPushButton *saveImageButton = nullptr; // the plots of the page shown
    QPushButton *reportButton = nullptr;
    QPushButton *closeButton = nullptr;

    static constexpr int FiguresPage = 0;
    static constexpr int TrendPage = 1;
    static constexpr int TracesPage = 2;

public slots:
    // The selected cells as tab-separated text on the clipboard.
    void copySelection();
    // Asks where, then writes the delay table there.
    void exportCsvAs();
    // Asks where, then saves the plots of the page shown.
    void saveImageAs();
    // Asks where, then writes the run's report.
    void saveReportAs();

protected:
    void hideEvent(QHideEvent *event) override;

private slots:
    // A double-click in the table: that measurement's traces.
    void showTracesOfRow(const QModelIndex &index);

private:
    void refresh();

    RunRecord run_;
    bool underWay_ = false;
    MeasurementTraces last_; // the finished run's last traces, as the graph handed them
};
