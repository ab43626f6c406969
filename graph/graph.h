// The dialog shown after every run: the last acquisition's three traces,
// a marker at each edge found in them, and the run's mean delays. Reads the
// shared measurement state once, in the constructor.
#pragma once

#include <QDialog>

class QwtPlotCurve;
struct GraphForm;

class Graph : public QDialog
{
    Q_OBJECT

public:
    explicit Graph(QWidget *parent = nullptr);
    ~Graph() override;

    // Attached to the plot, which owns them.
    QwtPlotCurve *Crv1 = nullptr;
    QwtPlotCurve *Crv2 = nullptr;
    QwtPlotCurve *Crv3 = nullptr;
    GraphForm *form = nullptr;
};
