// Selected cells of a table as tab-separated text, the form spreadsheets
// paste cell by cell.
#pragma once

#include <QModelIndexList>
#include <QString>

class QAbstractItemModel;

// One line per row that has a selected cell, in row order; in each line the
// columns that have a selected cell in any row, in column order, empty where
// that row's cell is not selected. Cells give `role`'s text; tabs and line
// breaks in it become spaces. Every line ends in "\n".
QString SelectionAsTsv(const QAbstractItemModel *model, const QModelIndexList &selected, int role);
