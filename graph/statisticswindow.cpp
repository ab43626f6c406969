#include "graph/statisticswindow.h"

#include "graph/delaytablemodel.h"
#include "graph/plotimage.h"
#include "graph/plotzoom.h"
#include "graph/statisticsplots.h"
#include "graph/statstext.h"
#include "graph/tablecopy.h"
#include "graph/uncertaintytable.h"
#include "graph/traceview.h"
#include "graph/windowplace.h"
#include "measurement/delayscsv.h"
#include "measurement/resultsfile.h"
#include "measurement/runreport.h"
#include "measurement/runstats.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegExp>
#include <QSaveFile>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>

#include <algorithm>
#include <iterator>

#include <qwt_legend.h>
#include <qwt_plot.h>

namespace {

const QString PlaceKey = QStringLiteral("Statistics");

// The widest text each column of the measurement table shows.
int TableColumnWidth(const QFontMetrics &fm, const DelayTableModel *model, int column)
{
    const QString widest[DelayTableModel::ColumnCount] = {QStringLiteral("000000"), QStringLiteral("00:00:00.000"),
                                                          QStringLiteral("-0000.000"), QStringLiteral("-0000.000"),
                                                          QStringLiteral("-0000.000"), QStringLiteral("00")};
    int w = fm.horizontalAdvance(widest[column]);
    for (const QString &line : model->headerData(column, Qt::Horizontal).toString().split(QLatin1Char('\n')))
        w = std::max(w, fm.horizontalAdvance(line));
    return w + 16;
}

// "(*.svg)" in the filter the dialog ended on gives ".svg".
QString FilterSuffix(const QString &filter)
{
    const int star = filter.indexOf(QStringLiteral("(*"));
    if (star < 0)
        return QString();
    const QString rest = filter.mid(star + 2);
    return rest.left(rest.indexOf(QRegExp(QStringLiteral("[ )]"))));
}

} // namespace

StatisticsWindow::StatisticsWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("StatisticsWindow"));
    setWindowTitle(tr("Quenvia Codec Timing Statistics"));

    summary = new QLabel(this);
    summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summary->setWordWrap(true);

    // A model, not an item per cell: 10 000 rows open as fast as ten.
    model = new DelayTableModel(this);
    table = new QTableView(this);
    table->setModel(model);
    table->setSelectionBehavior(QAbstractItemView::SelectItems);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setAlternatingRowColors(true);
    table->setToolTip(tr("Double-click a measurement to see its traces"));
    table->verticalHeader()->hide();
    // Fixed row heights and column widths from the font: measuring every
    // row's contents would touch all of them.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    const QFontMetrics fm = table->fontMetrics();
    for (int c = 0; c < DelayTableModel::ColumnCount; ++c)
        table->setColumnWidth(c, TableColumnWidth(fm, model, c));
    table->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto *copyAction = new QAction(tr("Copy"), table);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setShortcutContext(Qt::WidgetShortcut);
    table->addAction(copyAction);
    connect(copyAction, &QAction::triggered, this, &StatisticsWindow::copySelection);
    connect(table, &QTableView::doubleClicked, this, &StatisticsWindow::showTracesOfRow);

    // Figures: each path's figures, and its histogram below them. Scrolls
    // rather than squeezing the table's headers and intervals.
    auto *figures = new QWidget;
    stats = new QTableWidget(StatsRowNames().size(), 3, figures);
    stats->setObjectName(QStringLiteral("stats"));
    stats->setEditTriggers(QAbstractItemView::NoEditTriggers);
    stats->setVerticalHeaderLabels(StatsRowNames());
    QStringList heads;
    // Wide enough for a header and an interval of delays below a second.
    int columnWidth = fm.horizontalAdvance(QString::fromUtf8("000.000 … 000.000")) + 12;
    for (const DelayPathInfo &p : DelayPaths) {
        heads << QStringLiteral("%1 (%2)").arg(QLatin1String(p.label), QLatin1String(p.unit));
        columnWidth = std::max(columnWidth, fm.horizontalAdvance(heads.last()) + 12);
    }
    stats->setHorizontalHeaderLabels(heads);
    stats->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    stats->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    stats->verticalHeader()->setDefaultSectionSize(fm.height() + 4);
    stats->setFixedHeight(stats->horizontalHeader()->sizeHint().height()
                          + stats->rowCount() * stats->verticalHeader()->defaultSectionSize() + 2 * stats->frameWidth());
    stats->setMinimumWidth(stats->verticalHeader()->sizeHint().width() + 3 * columnWidth + 2 * stats->frameWidth());
    stats->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    stats->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    uncertainty = MakeUncertaintyTable(this);

    auto *histogramRow = new QHBoxLayout;
    for (const DelayPathInfo &p : DelayPaths) {
        const int path = int(p.path);
        histograms[path] = MakeStatisticsPlot(figures, 150, 160, 3);
        histogramRow->addWidget(histograms[path], 1);
        notMeasured[path] = new QLabel(tr("%1\nnot measured").arg(QLatin1String(p.label)), figures);
        notMeasured[path]->setAlignment(Qt::AlignCenter);
        notMeasured[path]->setMinimumWidth(100);
        histogramRow->addWidget(notMeasured[path]);
    }
    auto *figuresColumn = new QVBoxLayout(figures);
    figuresColumn->addWidget(stats);
    figuresColumn->addWidget(uncertainty);
    figuresColumn->addLayout(histogramRow, 1);
    auto *figuresScroll = new QScrollArea;
    figuresScroll->setWidget(figures);
    figuresScroll->setWidgetResizable(true);
    figuresScroll->setFrameShape(QFrame::NoFrame);

    // Trend: every path's delays against the measurement number.
    auto *trend = new QWidget;
    byIndex = MakeStatisticsPlot(trend, 300, 200, 6);
    // Above the canvas: inside it, the legend would hide measurements.
    auto *legend = new QwtLegend;
    legend->setFont(byIndex->axisFont(QwtPlot::xBottom));
    byIndex->insertLegend(legend, QwtPlot::TopLegend);
    auto *trendColumn = new QVBoxLayout(trend);
    trendColumn->addWidget(byIndex);

    // Traces: one measurement's traces, by its number.
    traceView = new TraceView;
    traceIndex = traceView->index;
    traceNote = traceView->note;
    traces = traceView->plot;
    std::copy(std::begin(traceView->curves), std::end(traceView->curves), traceCurves);
    tracesZoom = traceView->zoom;

    pages = new QTabWidget(this);
    pages->addTab(figuresScroll, tr("Figures"));
    pages->addTab(trend, tr("Trend"));
    pages->addTab(traceView, tr("Traces"));

    auto *split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(table);
    split->addWidget(pages);
    split->setStretchFactor(1, 1);
    split->setChildrenCollapsible(false);

    copyButton = new QPushButton(tr("Copy"), this);
    copyButton->setToolTip(tr("The selected cells as tab-separated text"));
    exportButton = new QPushButton(tr("Export CSV…"), this);
    saveImageButton = new QPushButton(tr("Save image…"), this);
    saveImageButton->setToolTip(tr("The plots of the page shown, as PNG, SVG, PDF or JPEG"));
    reportButton = new QPushButton(tr("Save report…"), this);
    reportButton->setToolTip(tr("The run's figures, plots and last traces in one HTML file to read in any browser "
                                "or print"));
    closeButton = new QPushButton(tr("Close"), this);
    connect(copyButton, &QPushButton::clicked, this, &StatisticsWindow::copySelection);
    connect(exportButton, &QPushButton::clicked, this, &StatisticsWindow::exportCsvAs);
    connect(saveImageButton, &QPushButton::clicked, this, &StatisticsWindow::saveImageAs);
    connect(reportButton, &QPushButton::clicked, this, &StatisticsWindow::saveReportAs);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(copyButton);
    buttons->addWidget(exportButton);
    buttons->addWidget(saveImageButton);
    buttons->addWidget(reportButton);
    buttons->addStretch(1);
    buttons->addWidget(closeButton);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(summary);
    layout->addWidget(split, 1);
    layout->addLayout(buttons);

    showRun(RunRecord());
    byIndexZoom = new PlotZoom(byIndex);

    // Where it was last closed; else large enough for everything, within
    // the screen.
    if (!RestoreWindowPlace(this, PlaceKey)) {
        QSize size(1280, 800);
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            size = size.boundedTo(screen->availableGeometry().size());
        resize(size);
    }
    int tableWidth = table->frameWidth() * 2 + table->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4;
    for (int c = 0; c < DelayTableModel::ColumnCount; ++c)
        tableWidth += table->columnWidth(c);
    // The pages get at least 55 % of a narrow window.
    tableWidth = std::min(tableWidth, width() * 45 / 100);
    split->setSizes({tableWidth, width() - tableWidth});
}

StatisticsWindow::~StatisticsWindow()
{
    // Deleted with its owner while still open: no hide event comes.
    if (isVisible())
        SaveWindowPlace(this, PlaceKey);
}

void StatisticsWindow::hideEvent(QHideEvent *event)
{
    SaveWindowPlace(this, PlaceKey);
    QWidget::hideEvent(event);
}

void StatisticsWindow::showRun(const RunRecord &run, const MeasurementTraces &last)
{
    run_ = run;
    for (Measurement &m : run_.measurements)
        m.traces = KeptTraces();
    underWay_ = false;
    last_ = last;
    refresh();
    traceView->setRun(run_, last, false);
}

void StatisticsWindow::followRun(const RunRecord &sofar)
{
    run_ = sofar;
    for (Measurement &m : run_.measurements)
        m.traces = KeptTraces();
    underWay_ = true;
    last_ = MeasurementTraces();
    refresh();
    traceView->setRun(run_, MeasurementTraces(), true);
    table->scrollToBottom();
}

void StatisticsWindow::refresh()
{
    model->setCalibration(run_.calibration);
    model->setMeasurements(run_.measurements);

    const RunStats s = ComputeRunStats(run_);
    for (const DelayPathInfo &p : DelayPaths) {
        const QStringList cells = StatsCells(s.of(p.path));
        for (int row = 0; row < cells.size(); ++row) {
            auto *item = new QTableWidgetItem(cells[row]);
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            stats->setItem(row, int(p.path), item);
        }
    }

    ShowUncertainty(uncertainty, run_);

    QString text;
    if (underWay_)
        text = tr("Run under way since %1: %2 of %3 measurements so far")
                   .arg(run_.started.toString(QStringLiteral("hh:mm:ss")))
                   .arg(run_.measurements.size())
                   .arg(run_.requested);
    else if (run_.started.isValid())
        text = tr("Run of %1: %2").arg(run_.started.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), RunSummary(run_));
    else
        text = tr("No run yet");
    if (!run_.label.isEmpty())
        text += QStringLiteral(" — ") + run_.label;
    summary->setText(text);

    // A path that was not measured has no histogram, only its name and why.
    for (const DelayPathInfo &p : DelayPaths) {
        const int path = int(p.path);
        const bool measured = s.of(p.path).measured;
        histograms[path]->setVisible(measured);
        notMeasured[path]->setVisible(!measured);
        if (measured)
            ShowHistogram(histograms[path], p, run_.DelayArr(p.path), true);
    }
    ShowDelaysByIndex(byIndex, run_.measurements, s.src2Hd.measured);
    if (byIndexZoom)
        byIndexZoom->takeFullView();
}

void StatisticsWindow::showTracesOfRow(const QModelIndex &index)
{
    const QVector<Measurement> &rows = model->measurements();
    if (!index.isValid() || index.row() >= rows.size())
        return;
    pages->setCurrentIndex(TracesPage);
    traceIndex->setValue(rows[index.row()].index);
}

QString StatisticsWindow::exportCsv(const QString &path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.write(DelaysCsv(run_));
    return file.commit() ? QString() : file.errorString();
}

QString StatisticsWindow::saveImage(Picture which, const QString &path) const
{
    QList<QwtPlot *> plots;
    switch (which) {
    case Picture::Histograms:
        for (QwtPlot *plot : histograms)
            if (!plot->isHidden())
                plots << plot;
        break;
    case Picture::Trend:
        plots << byIndex;
        break;
    case Picture::Traces:
        plots << traces;
        break;
    }
    QString error;
    return SavePlots(plots, path, &error) ? QString() : error;
}

void StatisticsWindow::copySelection()
{
    const QString text =
        SelectionAsTsv(model, table->selectionModel()->selectedIndexes(), DelayTableModel::CopyRole);
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

void StatisticsWindow::exportCsvAs()
{
    const QString suggested = QDir::home().filePath(
        (run_.started.isValid() ? RunStamp(run_.started) : QString()) + QStringLiteral("Delays.csv"));
    const QString path = QFileDialog::getSaveFileName(this, tr("Export CSV"), suggested,
                                                      tr("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    const QString error = exportCsv(path);
    if (!error.isEmpty())
        QMessageBox::warning(this, tr("Export CSV"),
                             tr("Could not write %1: %2").arg(QDir::toNativeSeparators(path), error));
}

void StatisticsWindow::saveImageAs()
{
    Picture which = Picture::Histograms;
    QString name = QStringLiteral("Histograms");
    if (pages->currentIndex() == TrendPage) {
        which = Picture::Trend;
        name = QStringLiteral("Trend");
    } else if (pages->currentIndex() == TracesPage) {
        which = Picture::Traces;
        name = QStringLiteral("Traces%1").arg(traceIndex->value(), 3, 10, QLatin1Char('0'));
    }
    const QString stamp = run_.started.isValid() ? RunStamp(run_.started) : QString();
    QString filter;
    QString path = QFileDialog::getSaveFileName(this, tr("Save image"),
                                                QDir::home().filePath(stamp + name + QStringLiteral(".png")),
                                                ImageFileFilter(), &filter);
    if (path.isEmpty())
        return;
    // A name typed without a suffix takes the chosen format's.
    if (QFileInfo(path).suffix().isEmpty())
        path += FilterSuffix(filter);
    const QString error = saveImage(which, path);
    if (!error.isEmpty())
        QMessageBox::warning(this, tr("Save image"),
                             tr("Could not write %1: %2").arg(QDir::toNativeSeparators(path), error));
}

QString StatisticsWindow::saveReport(const QString &path) const
{
    return WriteRunReport(path, ReportOfRun(run_, last_));
}

void StatisticsWindow::saveReportAs()
{
    const QString stamp = run_.started.isValid() ? RunStamp(run_.started) : QString();
    QString path = QFileDialog::getSaveFileName(this, tr("Save report"),
                                                QDir::home().filePath(stamp + QStringLiteral("Report.html")),
                                                tr("HTML files (*.html *.htm);;All files (*)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".html");
    const QString error = saveReport(path);
    if (!error.isEmpty())
        QMessageBox::warning(this, tr("Save report"),
                             tr("Could not write %1: %2").arg(QDir::toNativeSeparators(path), error));
}
