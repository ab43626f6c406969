#include "graph/statisticswindow.h"

#include "graph/delaytablemodel.h"
#include "graph/plotzoom.h"
#include "graph/statisticsplots.h"
#include "graph/statstext.h"
#include "graph/tablecopy.h"
#include "graph/uncertaintytable.h"
#include "measurement/delayscsv.h"
#include "measurement/resultsfile.h"
#include "measurement/runstats.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>

#include <algorithm>

#include <qwt_legend.h>
#include <qwt_plot.h>

namespace {

QwtPlot *MakePlot(QWidget *parent, int minWidth, int minHeight, int maxMajor)
{
    auto *plot = new QwtPlot(parent);
    plot->setCanvasBackground(Qt::white);
    plot->setMinimumSize(minWidth, minHeight);
    QFont small = plot->font();
    small.setPixelSize(10);
    for (int axis : {QwtPlot::xBottom, QwtPlot::yLeft}) {
        plot->setAxisFont(axis, small);
        // Few labels: a narrow plot's tick labels would run into each other.
        plot->setAxisMaxMajor(axis, maxMajor);
    }
    return plot;
}

} // namespace

StatisticsWindow::StatisticsWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("StatisticsWindow"));
    setWindowTitle(tr("Quenvia Codec Timing Statistics"));
    resize(1180, 760);

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
    table->verticalHeader()->hide();
    // Fixed row heights and column widths from the font: measuring every
    // row's contents would touch all of them.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    const QFontMetrics fm = table->fontMetrics();
    const QString widest[DelayTableModel::ColumnCount] = {QStringLiteral("000000"), QStringLiteral("00:00:00.000"),
                                                          QStringLiteral("-0000.000"), QStringLiteral("-0000.000"),
                                                          QStringLiteral("-0000.000"), QStringLiteral("00")};
    for (int c = 0; c < DelayTableModel::ColumnCount; ++c) {
        int w = fm.horizontalAdvance(widest[c]);
        for (const QString &line : model->headerData(c, Qt::Horizontal).toString().split(QLatin1Char('\n')))
            w = std::max(w, fm.horizontalAdvance(line));
        table->setColumnWidth(c, w + 16);
    }
    table->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto *copyAction = new QAction(tr("Copy"), table);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setShortcutContext(Qt::WidgetShortcut);
    table->addAction(copyAction);
    connect(copyAction, &QAction::triggered, this, &StatisticsWindow::copySelection);

    stats = new QTableWidget(StatsRowNames().size(), 3, this);
    stats->setObjectName(QStringLiteral("stats"));
    stats->setEditTriggers(QAbstractItemView::NoEditTriggers);
    stats->setVerticalHeaderLabels(StatsRowNames());
    QStringList heads;
    for (const DelayPathInfo &p : DelayPaths)
        heads << QStringLiteral("%1 (%2)").arg(QLatin1String(p.label), QLatin1String(p.unit));
    stats->setHorizontalHeaderLabels(heads);
    stats->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    stats->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    stats->verticalHeader()->setDefaultSectionSize(fm.height() + 4);
    stats->setFixedHeight(stats->horizontalHeader()->sizeHint().height()
                          + stats->rowCount() * stats->verticalHeader()->defaultSectionSize() + 2 * stats->frameWidth());
    stats->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    uncertainty = MakeUncertaintyTable(this);

    auto *histogramRow = new QHBoxLayout;
    for (int path = 0; path < 3; ++path) {
        histograms[path] = MakePlot(this, 150, 180, 3);
        histogramRow->addWidget(histograms[path]);
    }
    byIndex = MakePlot(this, 400, 200, 6);
    // Above the canvas: inside it, the legend would hide measurements.
    auto *legend = new QwtLegend;
    legend->setFont(byIndex->axisFont(QwtPlot::xBottom));
    byIndex->insertLegend(legend, QwtPlot::TopLegend);

    auto *right = new QWidget(this);
    auto *rightColumn = new QVBoxLayout(right);
    rightColumn->setContentsMargins(0, 0, 0, 0);
    rightColumn->addWidget(stats);
    rightColumn->addWidget(uncertainty);
    rightColumn->addLayout(histogramRow, 1);
    rightColumn->addWidget(byIndex, 1);

    auto *split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(table);
    split->addWidget(right);
    split->setStretchFactor(1, 1);
    int tableWidth = table->frameWidth() * 2 + table->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4;
    for (int c = 0; c < DelayTableModel::ColumnCount; ++c)
        tableWidth += table->columnWidth(c);
    split->setSizes({tableWidth, width() - tableWidth});

    copyButton = new QPushButton(tr("Copy"), this);
    copyButton->setToolTip(tr("The selected cells as tab-separated text"));
    exportButton = new QPushButton(tr("Export CSV…"), this);
    closeButton = new QPushButton(tr("Close"), this);
    connect(copyButton, &QPushButton::clicked, this, &StatisticsWindow::copySelection);
    connect(exportButton, &QPushButton::clicked, this, &StatisticsWindow::exportCsvAs);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(copyButton);
    buttons->addWidget(exportButton);
    buttons->addStretch(1);
    buttons->addWidget(closeButton);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(summary);
    layout->addWidget(split, 1);
    layout->addLayout(buttons);

    showRun(RunRecord());
    byIndexZoom = new PlotZoom(byIndex);
}

void StatisticsWindow::showRun(const RunRecord &run)
{
    run_ = run;
    for (Measurement &m : run_.measurements)
        m.traces = KeptTraces();
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

    QString text = run_.started.isValid()
                       ? tr("Run of %1: %2").arg(run_.started.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), RunSummary(run_))
                       : tr("No run yet");
    if (!run_.label.isEmpty())
        text += QStringLiteral(" — ") + run_.label;
    summary->setText(text);

    for (const DelayPathInfo &p : DelayPaths)
        ShowHistogram(histograms[int(p.path)], p, run_.DelayArr(p.path), s.of(p.path).measured);
    ShowDelaysByIndex(byIndex, run_.measurements, s.src2Hd.measured);
    if (byIndexZoom)
        byIndexZoom->takeFullView();
}

QString StatisticsWindow::exportCsv(const QString &path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.write(DelaysCsv(run_));
    return file.commit() ? QString() : file.errorString();
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
