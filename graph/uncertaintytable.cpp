#include "graph/uncertaintytable.h"

#include "measurement/uncertaintytext.h"

#include <QHeaderView>
#include <QTableWidget>

QTableWidget *MakeUncertaintyTable(QWidget *parent)
{
    auto *table = new QTableWidget(UncertaintyRowNames().size(), 3, parent);
    table->setObjectName(QStringLiteral("uncertainty"));
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setVerticalHeaderLabels(UncertaintyRowNames());
    QStringList heads;
    for (const DelayPathInfo &p : DelayPaths)
        heads << QStringLiteral("%1 (%2)").arg(QLatin1String(p.label), QLatin1String(p.unit));
    table->setHorizontalHeaderLabels(heads);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 4);
    table->setFixedHeight(table->horizontalHeader()->sizeHint().height()
                          + table->rowCount() * table->verticalHeader()->defaultSectionSize()
                          + 2 * table->frameWidth());
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return table;
}

void ShowUncertainty(QTableWidget *table, const RunRecord &run)
{
    const RunUncertainty u = ComputeRunUncertainty(run);
    table->setToolTip(QStringLiteral("Corrected delays: %1. Uncertainties in ms, standard (k = 1) for the "
                                     "components, expanded for U.")
                          .arg(CalibrationSummary(run.calibration)));
    for (const DelayPathInfo &p : DelayPaths) {
        const QStringList cells = UncertaintyCells(u.of(p.path), run.calibration.of(p.path));
        for (int row = 0; row < cells.size(); ++row) {
            auto *item = new QTableWidgetItem(cells[row]);
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table->setItem(row, int(p.path), item);
        }
    }
}
