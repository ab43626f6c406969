#include "graph/tablecopy.h"

#include <QAbstractItemModel>
#include <QMap>
#include <QSet>

#include <algorithm>

QString SelectionAsTsv(const QAbstractItemModel *model, const QModelIndexList &selected, int role)
{
    QMap<int, QSet<int>> rows; // row -> its selected columns
    QSet<int> columnSet;
    for (const QModelIndex &index : selected) {
        if (!index.isValid() || index.model() != model)
            continue;
        rows[index.row()].insert(index.column());
        columnSet.insert(index.column());
    }
    QList<int> columns = columnSet.values();
    std::sort(columns.begin(), columns.end());

    QString out;
    for (auto row = rows.cbegin(); row != rows.cend(); ++row) {
        for (int i = 0; i < columns.size(); ++i) {
            if (i > 0)
                out += QLatin1Char('\t');
            if (!row.value().contains(columns[i]))
                continue;
            QString text = model->data(model->index(row.key(), columns[i]), role).toString();
            text.replace(QLatin1Char('\t'), QLatin1Char(' '));
            text.replace(QLatin1Char('\r'), QLatin1Char(' '));
            text.replace(QLatin1Char('\n'), QLatin1Char(' '));
            out += text;
        }
        out += QLatin1Char('\n');
    }
    return out;
}
