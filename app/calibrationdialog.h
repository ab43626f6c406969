// The dialog behind the status bar's calibration button: shows the
// calibration in use, loads one from a file, edits, saves and clears it.
// What its fields say is checked exactly as a calibration file is.
#pragma once

#include "measurement/calibration.h"

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class CalibrationDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CalibrationDialog(const Calibration &current, QWidget *parent = nullptr);

    // Fills the fields; a calibration that is not loaded leaves them empty.
    void setCalibration(const Calibration &calibration);
    // What the fields say. Every field empty: no calibration. False with the
    // reason for a field that is no number or out of bounds.
    bool readFields(Calibration *calibration, QString *error) const;
    // The calibration accepted with OK.
    const Calibration &calibration() const { return accepted_; }

    // Without a file dialog, for the buttons and for tests: empty when done,
    // else the reason.
    QString loadFile(const QString &path);
    QString saveFile(const QString &path) const;

    QLineEdit *name = nullptr;
    QLineEdit *date = nullptr;
    QPlainTextEdit *measuredWith = nullptr;
    QLineEdit *timeBase = nullptr;
    QLineEdit *offset[3] = {nullptr, nullptr, nullptr};      // per path, in the order of DelayPaths
    QLineEdit *uncertainty[3] = {nullptr, nullptr, nullptr}; // standard uncertainty of each offset
    QLabel *problem = nullptr;
    QPushButton *loadButton = nullptr;
    QPushButton *saveButton = nullptr;
    QPushButton *clearButton = nullptr;
    QDialogButtonBox *buttons = nullptr;

public slots:
    void accept() override;
    void loadAs();
    void saveAs();
    void clearFields();

private:
    Calibration accepted_;
    QString notes_[3]; // each path's note, kept as it came
};
