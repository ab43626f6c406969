#include "graph/graphform.h"
#include "graph/resultbox.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFont>
#include <QIcon>
#include <QLabel>

#include <qwt_plot.h>

namespace {

QString Tr(const char *text) { return QCoreApplication::translate("Graph", text); }

template <class W> W *Make(QDialog *parent, const char *name, int x, int y, int w, int h)
{
    auto *widget = new W(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

ResultBox *MakeResultBox(QDialog *parent, const char *name, int x)
{
    auto *box = Make<ResultBox>(parent, name, x, 400, 81, 22);
    box->setFrame(true);
    box->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    box->setReadOnly(false);
    box->setButtonSymbols(QAbstractSpinBox::NoButtons);
    box->setDecimals(3);
    box->setMinimum(-2000.0);
    box->setMaximum(2000.0);
    return box;
}

} // namespace

void GraphForm::setupUi(QDialog *Graph)
{
    if (Graph->objectName().isEmpty())
        Graph->setObjectName(QStringLiteral("Graph"));
    Graph->resize(817, 434);
    // The geometry is in pixels and sized for a small dialog font; a font of
    // fixed pixel size keeps the labels inside their boxes on any desktop.
    QFont font = Graph->font();
    font.setPixelSize(10);
    font.setStretch(QFont::SemiCondensed);
    Graph->setFont(font);
    Graph->setWindowIcon(QIcon(QStringLiteral("vk.ico")));

    buttonBox = Make<QDialogButtonBox>(Graph, "buttonBox", 650, 400, 161, 32);
    buttonBox->setOrientation(Qt::Horizontal);
    buttonBox->setStandardButtons(QDialogButtonBox::Ok);
    plt = Make<QwtPlot>(Graph, "plt", 0, 10, 791, 381);
    Src2Rf = MakeResultBox(Graph, "Src2Rf", 114);
    label = Make<QLabel>(Graph, "label", 200, 402, 21, 16);
    label_2 = Make<QLabel>(Graph, "label_2", 47, 402, 71, 16);
    label_3 = Make<QLabel>(Graph, "label_3", 406, 402, 21, 16);
    label_5 = Make<QLabel>(Graph, "label_5", 237, 402, 81, 16);
    Src2Hd = MakeResultBox(Graph, "Src2Hd", 320);
    Src2Hd->setEnabled(false);
    label_4 = Make<QLabel>(Graph, "label_4", 449, 402, 71, 16);
    Src2Snk = MakeResultBox(Graph, "Src2Snk", 524);
    label_6 = Make<QLabel>(Graph, "label_6", 610, 402, 21, 16);

    Graph->setWindowTitle(Tr("Quenvia Codec Timing Graph"));
    label->setText(Tr("ms"));
    label_2->setText(Tr("Source -> RF"));
    label_3->setText(Tr("ms"));
    label_5->setText(Tr("Source -> HDMI"));
    label_4->setText(Tr("Source -> Sink"));
    label_6->setText(Tr("ms"));

    QObject::connect(buttonBox, &QDialogButtonBox::accepted, Graph, &QDialog::accept);
    QObject::connect(buttonBox, &QDialogButtonBox::rejected, Graph, &QDialog::reject);
}
