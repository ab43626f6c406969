#include "graph/delaytablemodel.h"

#include "measurement/runjson.h"

#include <QBrush>
#include <QLocale>

#include <cmath>

namespace {

struct Cell
{
    double value;
    DelayGap gap;
};

// The delay columns follow each other in the paths' order.
bool IsDelay(int column)
{
    return column >= DelayTableModel::RfColumn && column <= DelayTableModel::SnkColumn;
}

DelayPath PathOf(int column)
{
    return DelayPaths[column - DelayTableModel::RfColumn].path;
}

Cell DelayOf(const Measurement &m, int column)
{
    return {m.delay(PathOf(column)), m.gap(PathOf(column))};
}

// A value counts only where its path says so: the HDMI placeholder 0 of a
// run without the option is no reading.
bool HasValue(const Cell &c)
{
    return c.gap == DelayGap::None && std::isfinite(c.value);
}

} // namespace

DelayTableModel::DelayTableModel(QObject *parent) : QAbstractTableModel(parent) {}

void DelayTableModel::setMeasurements(const QVector<Measurement> &measurements)
{
    beginResetModel();
    rows_ = measurements;
    endResetModel();
}

void DelayTableModel::setCalibration(const Calibration &calibration)
{
    calibration_ = calibration;
}

int DelayTableModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : rows_.size(); }

int DelayTableModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant DelayTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows_.size())
        return QVariant();
    const Measurement &m = rows_[index.row()];
    const int column = index.column();

    if (role == Qt::TextAlignmentRole)
        return column == TimeColumn ? int(Qt::AlignLeft | Qt::AlignVCenter) : int(Qt::AlignRight | Qt::AlignVCenter);

    if (IsDelay(column)) {
        const Cell c = DelayOf(m, column);
        const bool has = HasValue(c);
        switch (role) {
        case Qt::DisplayRole:
            return has ? QString::number(c.value, 'f', 3) : DelayGapText(c.gap == DelayGap::None ? DelayGap::NoReading : c.gap);
        case CopyRole:
            return has ? QString::number(c.value, 'g', QLocale::FloatingPointShortest) : QString();
        case Qt::ForegroundRole:
            return has ? QVariant() : QVariant(QBrush(Qt::gray));
        default:
            return QVariant();
        }
    }

    if (column >= PrecisionColumn && column < ColumnCount) {
        const double v = PrecisionColumnValues(m, calibration_).value(column - PrecisionColumn, std::nan(""));
        const bool has = std::isfinite(v);
        switch (role) {
        case Qt::DisplayRole:
            // A tenth of a microsecond: the fine delays resolve well below one.
            return has ? QString::number(v, 'f', 4) : QString();
        case CopyRole:
            return has ? QString::number(v, 'g', QLocale::FloatingPointShortest) : QString();
        default:
            return QVariant();
        }
    }

    if (role != Qt::DisplayRole && role != CopyRole)
        return QVariant();
    switch (column) {
    case IndexColumn:
        return QString::number(m.index);
    case TimeColumn:
        return role == CopyRole ? RunRecordTime(m.acquired) : m.acquired.toString(QStringLiteral("hh:mm:ss.zzz"));
    case RetakenColumn:
        return QString::number(m.retakenBefore);
    default:
        return QVariant();
    }
}

QVariant DelayTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    // Two lines, so the columns stay as narrow as their numbers.
    if (IsDelay(section)) {
        const DelayPathInfo &p = PathInfo(PathOf(section));
        return QStringLiteral("%1\n(%2)").arg(QLatin1String(p.label), QLatin1String(p.unit));
    }
    if (section >= PrecisionColumn && section < ColumnCount)
        return PrecisionColumnTitles().value(section - PrecisionColumn);
    switch (section) {
    case IndexColumn:
        return QStringLiteral("#");
    case TimeColumn:
        return QStringLiteral("Time");
    case RetakenColumn:
        return QStringLiteral("Retaken\nbefore");
    default:
        return QVariant();
    }
}
