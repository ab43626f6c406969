#include "graph/resultbox.h"

#include <QLineEdit>

#include <cmath>

ResultBox::ResultBox(QWidget *parent) : QDoubleSpinBox(parent)
{
    // Whatever the operator types is a number again.
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { notANumber = false; });
}

void ResultBox::setResult(double value)
{
    notANumber = std::isnan(value);
    if (notANumber) {
        // setValue would clamp NaN to a limit; keep the value and redraw the text.
        setValue(0.0);
        lineEdit()->setText(textFromValue(0.0));
    } else {
        setValue(value);
    }
}

void ResultBox::stepBy(int steps)
{
    notANumber = false;
    QDoubleSpinBox::stepBy(steps);
}

QString ResultBox::textFromValue(double value) const
{
    return notANumber ? QStringLiteral("nan") : QDoubleSpinBox::textFromValue(value);
}
