// A result box of the graph dialog: a double spin box that can show a mean
// that is not a number as "nan" instead of a clamped limit.
#pragma once

#include <QDoubleSpinBox>

class ResultBox : public QDoubleSpinBox
{
    Q_OBJECT

public:
    explicit ResultBox(QWidget *parent = nullptr);

    // A NaN is shown as "nan"; anything else goes through setValue and is
    // clamped to the box's range as usual.
    void setResult(double value);

    // A step (arrow key, wheel) leaves "nan" for the stepped number.
    void stepBy(int steps) override;

protected:
    QString textFromValue(double value) const override;

private:
    bool notANumber = false;
};
