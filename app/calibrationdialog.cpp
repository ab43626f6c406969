#include "app/calibrationdialog.h"

#include "shared/typednumber.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString Number(double v)
{
    return QString::number(v, 'g', 10);
}

// A typed number as a JSON value; false for text that is no number.
bool TypedValue(const QString &text, QJsonValue *value)
{
    bool ok = false;
    const double v = TypedNumber(text, &ok);
    *value = v;
    return ok;
}

} // namespace

CalibrationDialog::CalibrationDialog(const Calibration &current, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CalibrationDialog"));
    setWindowTitle(tr("Calibration"));

    name = new QLineEdit(this);
    date = new QLineEdit(this);
    date->setPlaceholderText(tr("2026-03-01"));
    measuredWith = new QPlainTextEdit(this);
    measuredWith->setPlaceholderText(tr("The reference set-up: sensor, probes, cables"));
    measuredWith->setFixedHeight(measuredWith->fontMetrics().height() * 4);
    timeBase = new QLineEdit(this);
    timeBase->setPlaceholderText(Number(DefaultTimeBasePpm));
    auto *form = new QFormLayout;
    form->addRow(tr("Name"), name);
    form->addRow(tr("Date"), date);
    form->addRow(tr("Measured with"), measuredWith);
    form->addRow(tr("Time base (ppm)"), timeBase);

    auto *grid = new QGridLayout;
    grid->addWidget(new QLabel(tr("Offset (ms)"), this), 0, 1);
    grid->addWidget(new QLabel(tr("Standard uncertainty (ms)"), this), 0, 2);
    for (const DelayPathInfo &p : DelayPaths) {
        const int row = int(p.path) + 1;
        grid->addWidget(new QLabel(QLatin1String(p.label), this), row, 0);
        offset[int(p.path)] = new QLineEdit(this);
        offset[int(p.path)]->setObjectName(QStringLiteral("offset_%1").arg(QLatin1String(p.key)));
        uncertainty[int(p.path)] = new QLineEdit(this);
        uncertainty[int(p.path)]->setObjectName(QStringLiteral("uncertainty_%1").arg(QLatin1String(p.key)));
        grid->addWidget(offset[int(p.path)], row, 1);
        grid->addWidget(uncertainty[int(p.path)], row, 2);
    }

    problem = new QLabel(this);
    problem->setWordWrap(true);
    problem->setStyleSheet(QStringLiteral("color: #b00000"));

    loadButton = new QPushButton(tr("Load…"), this);
    saveButton = new QPushButton(tr("Save As…"), this);
    clearButton = new QPushButton(tr("Clear"), this);
    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(loadButton, &QPushButton::clicked, this, &CalibrationDialog::loadAs);
    connect(saveButton, &QPushButton::clicked, this, &CalibrationDialog::saveAs);
    connect(clearButton, &QPushButton::clicked, this, &CalibrationDialog::clearFields);
    connect(buttons, &QDialogButtonBox::accepted, this, &CalibrationDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CalibrationDialog::reject);
    auto *row = new QHBoxLayout;
    row->addWidget(loadButton);
    row->addWidget(saveButton);
    row->addWidget(clearButton);
    row->addStretch(1);
    row->addWidget(buttons);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(grid);
    layout->addWidget(problem);
    layout->addLayout(row);

    accepted_ = current;
    setCalibration(current);
}

void CalibrationDialog::setCalibration(const Calibration &c)
{
    name->setText(c.name);
    date->setText(c.date);
    measuredWith->setPlainText(c.measuredWith);
    timeBase->setText(c.loaded ? Number(c.timeBasePpm) : QString());
    for (const DelayPathInfo &p : DelayPaths) {
        const PathCalibration &pc = c.of(p.path);
        offset[int(p.path)]->setText(pc.set ? Number(pc.offsetMs) : QString());
        uncertainty[int(p.path)]->setText(pc.set ? Number(pc.uncertaintyMs) : QString());
        notes_[int(p.path)] = pc.note;
    }
    problem->clear();
}

bool CalibrationDialog::readFields(Calibration *calibration, QString *error) const
{
    // The fields become a calibration file's members, and are checked as one.
    QJsonObject o;
    o[QStringLiteral("schemaVersion")] = CalibrationSchemaVersion;
    bool any = false;
    auto text = [&](const char *key, const QString &value) {
        if (value.trimmed().isEmpty())
            return;
        o[QLatin1String(key)] = value.trimmed();
        any = true;
    };
    text("name", name->text());
    text("date", date->text());
    text("measuredWith", measuredWith->toPlainText());
    if (!timeBase->text().trimmed().isEmpty()) {
        QJsonValue v;
        if (!TypedValue(timeBase->text(), &v)) {
            *error = tr("Time base: \"%1\" is no number").arg(timeBase->text());
            return false;
        }
        o[QStringLiteral("timeBasePpm")] = v;
        any = true;
    }
    QJsonObject paths;
    for (const DelayPathInfo &p : DelayPaths) {
        const QString off = offset[int(p.path)]->text().trimmed();
        const QString unc = uncertainty[int(p.path)]->text().trimmed();
        if (off.isEmpty() && unc.isEmpty())
            continue;
        QJsonValue offsetValue, uncertaintyValue = 0.0;
        if (!TypedValue(off, &offsetValue) || (!unc.isEmpty() && !TypedValue(unc, &uncertaintyValue))) {
            *error = tr("%1: offset and uncertainty must be numbers of milliseconds").arg(QLatin1String(p.label));
            return false;
        }
        QJsonObject entry{{QStringLiteral("offsetMs"), offsetValue},
                          {QStringLiteral("uncertaintyMs"), uncertaintyValue}};
        if (!notes_[int(p.path)].isEmpty())
            entry[QStringLiteral("note")] = notes_[int(p.path)];
        paths[QLatin1String(p.key)] = entry;
        any = true;
    }
    o[QStringLiteral("paths")] = paths;
    if (!any) {
        *calibration = Calibration();
        return true;
    }
    return ParseCalibration(QJsonDocument(o).toJson(QJsonDocument::Compact), calibration, error);
}

void CalibrationDialog::accept()
{
    QString error;
    Calibration c;
    if (!readFields(&c, &error)) {
        problem->setText(error);
        return;
    }
    accepted_ = c;
    QDialog::accept();
}

QString CalibrationDialog::loadFile(const QString &path)
{
    Calibration c;
    QString error;
    if (!ReadCalibrationFile(path, &c, &error))
        return error;
    setCalibration(c);
    return QString();
}

QString CalibrationDialog::saveFile(const QString &path) const
{
    Calibration c;
    QString error;
    if (!readFields(&c, &error))
        return error;
    if (!c.loaded)
        return tr("Nothing to save: every field is empty");
    error = WriteCalibrationFile(path, c);
    return error.isEmpty() ? QString() : tr("Could not write %1: %2").arg(QDir::toNativeSeparators(path), error);
}

void CalibrationDialog::loadAs()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Load Calibration"), QDir::homePath(),
                                                      tr("Calibration files (*.json);;All files (*)"));
    if (!path.isEmpty())
        problem->setText(loadFile(path));
}

void CalibrationDialog::saveAs()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Save Calibration"),
                                                      QDir::home().filePath(QStringLiteral("calibration.json")),
                                                      tr("Calibration files (*.json);;All files (*)"));
    if (!path.isEmpty())
        problem->setText(saveFile(path));
}

void CalibrationDialog::clearFields()
{
    setCalibration(Calibration());
}
