// The graph dialog's widgets: a plain structure of pointers in form order,
// filled by setupUi. The widgets belong to the dialog's parent chain.
#pragma once

class QDialog;
class QDialogButtonBox;
class QLabel;
class QwtPlot;
class ResultBox;

struct GraphForm
{
    QDialogButtonBox *buttonBox = nullptr;
    QwtPlot *plt = nullptr;
    ResultBox *Src2Rf = nullptr;
    QLabel *label = nullptr;
    QLabel *label_2 = nullptr;
    QLabel *label_3 = nullptr;
    QLabel *label_5 = nullptr;
    ResultBox *Src2Hd = nullptr;
    QLabel *label_4 = nullptr;
    ResultBox *Src2Snk = nullptr;
    QLabel *label_6 = nullptr;

    // Creates every widget at its fixed geometry, sets the texts and
    // connects OK / Escape to accept() / reject().
    void setupUi(QDialog *Graph);
};
