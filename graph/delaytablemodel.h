// The per-measurement values of a run as a table model: one row per kept
// measurement, built on demand by the view, so a run of 100 000 rows costs
// no more to open than one of ten.
#pragma once

#include "measurement/precisioncolumns.h"
#include "measurement/runrecord.h"

#include <QAbstractTableModel>
#include <QVector>

class DelayTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // After the first six, the fine and corrected delays with their
    // uncertainties (measurement/precisioncolumns.h).
    enum Column {
        IndexColumn,
        TimeColumn,
        RfColumn,
        HdColumn,
        SnkColumn,
        RetakenColumn,
        PrecisionColumn,
        ColumnCount = PrecisionColumn + PrecisionColumnCount
    };
    // The text a cell is copied and exported as: the number with every digit
    // it needs, the full ISO time, empty where there is no value.
    static constexpr int CopyRole = Qt::UserRole;

    explicit DelayTableModel(QObject *parent = nullptr);

    // Keeps a copy, shared until either side changes: hand it measurements
    // without their traces, or they stay in memory with it.
    void setMeasurements(const QVector<Measurement> &measurements);
    const QVector<Measurement> &measurements() const { return rows_; }
    // The calibration the corrected delays are taken with; set it before
    // the measurements.
    void setCalibration(const Calibration &calibration);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QVector<Measurement> rows_;
    Calibration calibration_;
};
