#include "app/mainwindowform.h"
#include "app/fixedcontrol.h"

#include "instruments/osctype.h"
#include "shared/benchsettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFont>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMetaObject>
#include <QPushButton>
#include <QStatusBar>

namespace {

QString Tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

} // namespace

void MainWindowForm::setupUi(QMainWindow *MainWindow)
{
    if (MainWindow->objectName().isEmpty())
        MainWindow->setObjectName(QStringLiteral("MainWindow"));
    MainWindow->resize(327, 293);
    // The geometry is in pixels and sized for a small dialog font; a font of
    // fixed pixel size keeps the texts inside their controls on any desktop.
    QFont font = MainWindow->font();
    font.setPixelSize(10);
    MainWindow->setFont(font);
    // Relative to the working directory; without the file the window simply has no icon.
    if (QFileInfo::exists(QStringLiteral("vk.ico")))
        MainWindow->setWindowIcon(QIcon(QStringLiteral("vk.ico")));

    centralwidget = new QWidget(MainWindow);
    centralwidget->setObjectName(QStringLiteral("centralwidget"));

    OsTrgLvl = MakeControl<QLineEdit>(centralwidget, "OsTrgLvl", 200, 30, 91, 20);
    label_3 = MakeControl<QLabel>(centralwidget, "label_3", 200, 14, 81, 16);
    label_3->setAlignment(Qt::AlignCenter);
    label_4 = MakeControl<QLabel>(centralwidget, "label_4", 200, 84, 91, 16);
    label_4->setAlignment(Qt::AlignCenter);
    SaFrq = MakeControl<QLineEdit>(centralwidget, "SaFrq", 200, 100, 91, 20);
    label_5 = MakeControl<QLabel>(centralwidget, "label_5", 300, 100, 16, 16);
    label_6 = MakeControl<QLabel>(centralwidget, "label_6", 300, 30, 16, 16);
    MeasCnt = MakeControl<QLineEdit>(centralwidget, "MeasCnt", 20, 250, 71, 20);
    MeasCnt->setAlignment(Qt::AlignCenter);
    label_7 = MakeControl<QLabel>(centralwidget, "label_7", 20, 230, 71, 16);
    label_7->setAlignment(Qt::AlignCenter);
    Start = MakeControl<QPushButton>(centralwidget, "Start", 100, 248, 91, 23);
    Start->setEnabled(false);

    Os = MakeControl<QGroupBox>(centralwidget, "Os", 10, 10, 311, 71);
    OsInit = MakeControl<QPushButton>(Os, "OsInit", 10, 40, 51, 23);
    OsInit->setCheckable(false);
    OsInit->setStyleSheet(QString());
    OsIp = MakeControl<QLineEdit>(Os, "OsIp", 10, 20, 161, 20);
    OsRst = MakeControl<QCheckBox>(Os, "OsRst", 64, 43, 51, 16);

    Sa = MakeControl<QGroupBox>(centralwidget, "Sa", 10, 80, 311, 71);
    SaInit = MakeControl<QPushButton>(Sa, "SaInit", 10, 40, 51, 23);
    SaInit->setCheckable(false);
    SaIp = MakeControl<QLineEdit>(Sa, "SaIp", 10, 20, 161, 20);
    SaRst = MakeControl<QCheckBox>(Sa, "SaRst", 64, 44, 51, 16);

    Va = MakeControl<QGroupBox>(centralwidget, "Va", 10, 150, 311, 71);
    VaInit = MakeControl<QPushButton>(Va, "VaInit", 10, 40, 51, 23);
    VaInit->setEnabled(false);
    VaInit->setCheckable(false);
    VaIp = MakeControl<QLineEdit>(Va, "VaIp", 10, 20, 161, 20);
    VaIp->setEnabled(false);
    VaRst = MakeControl<QCheckBox>(Va, "VaRst", 65, 44, 51, 16);
    VaRst->setEnabled(false);
    VaThres = MakeControl<QLineEdit>(Va, "VaThres", 245, 20, 31, 20);
    VaThres->setEnabled(false);
    VaThres->setAlignment(Qt::AlignRight | Qt::AlignTrailing | Qt::AlignVCenter);
    VaThres->setClearButtonEnabled(false);
    label_9 = MakeControl<QLabel>(Va, "label_9", 284, 22, 16, 16);
    VaThresLbl = MakeControl<QLabel>(Va, "VaThresLbl", 192, 22, 51, 16);
    VaThresLbl->setEnabled(false);
    VaThresLbl->setAlignment(Qt::AlignLeading | Qt::AlignLeft | Qt::AlignVCenter);

    VaHdmi = MakeControl<QCheckBox>(centralwidget, "VaHdmi", 200, 183, 81, 41);
    Cancel = MakeControl<QDialogButtonBox>(centralwidget, "Cancel", 235, 250, 81, 23);
    Cancel->setOrientation(Qt::Horizontal);
    Cancel->setStandardButtons(QDialogButtonBox::Cancel);
    Cancel->setCenterButtons(true);
    SaIfDem = MakeControl<QCheckBox>(centralwidget, "SaIfDem", 200, 125, 121, 16);
    OsTyp = MakeControl<QComboBox>(centralwidget, "OsTyp", 200, 50, 91, 22);
    for (int i = 0; i < OscTypeCount; ++i)
        OsTyp->addItem(QString());
    label_8 = MakeControl<QLabel>(centralwidget, "label_8", 287, 50, 31, 20);
    label_8->setAlignment(Qt::AlignRight | Qt::AlignTrailing | Qt::AlignVCenter);
    SaveData = MakeControl<QCheckBox>(centralwidget, "SaveData", 103, 230, 71, 16);

    // The free-standing controls on the right overlap the group boxes and must
    // stay clickable, so the boxes go to the bottom, keeping their own order.
    Va->lower();
    Sa->lower();
    Os->lower();

    MainWindow->setCentralWidget(centralwidget);
    statusbar = new QStatusBar(MainWindow);
    statusbar->setObjectName(QStringLiteral("statusbar"));
    MainWindow->setStatusBar(statusbar);
    // Always in view: which calibration the delays are corrected with.
    CalStatus = new QPushButton(statusbar);
    CalStatus->setObjectName(QStringLiteral("CalStatus"));
    CalStatus->setFlat(true);
    statusbar->addPermanentWidget(CalStatus);

    retranslateUi(MainWindow);

    QObject::connect(Cancel, &QDialogButtonBox::clicked, MainWindow, &QMainWindow::close);
    // Selected before the slots are connected, so this change reaches no slot.
    OsTyp->setCurrentIndex(1);
    QMetaObject::connectSlotsByName(MainWindow);
}

void MainWindowForm::retranslateUi(QMainWindow *MainWindow)
{
    MainWindow->setWindowTitle(Tr("Quenvia Codec Timing Measurement"));
    OsTrgLvl->setText(Tr("35e-3"));
    label_3->setText(Tr("Trigger Level (V)"));
    label_4->setText(Tr("Center Frequency"));
    SaFrq->setText(Tr("5.192e9"));
    label_5->setText(Tr("Hz"));
    label_6->setText(Tr("V"));
    MeasCnt->setText(Tr("1"));
    label_7->setText(Tr("Measurements"));
    Start->setText(Tr("Start"));
    Os->setTitle(Tr("Oscilloscope"));
    OsInit->setText(Tr("Init"));
    OsIp->setText(Tr(DefaultOsIp));
    OsRst->setText(Tr("Reset"));
    Sa->setTitle(Tr("Spectrum Analyzer"));
    SaInit->setText(Tr("Init"));
    SaIp->setText(Tr(DefaultSaIp));
    SaRst->setText(Tr("Reset"));
    Va->setTitle(Tr("Video Analyzer"));
    VaInit->setText(Tr("Init"));
    VaIp->setText(Tr(DefaultVaIp));
    VaRst->setText(Tr("Reset"));
    VaThres->setText(Tr("35.0"));
    label_9->setText(Tr("%"));
    VaThresLbl->setText(Tr("Threshold"));
    VaHdmi->setText(Tr("Meas HDMI\nIn/Out Delay"));
    SaIfDem->setText(Tr("Use IF/Video-Demod"));
    for (int i = 0; i < OscTypeCount; ++i)
        OsTyp->setItemText(i, Tr(OscTypeOf(i).name));
    label_8->setText(Tr("Type"));
    SaveData->setText(Tr("Save Data"));
}

void EnableVaControls(MainWindowForm *form, bool enabled)
{
    form->VaInit->setEnabled(enabled);
    form->VaIp->setEnabled(enabled);
    form->VaRst->setEnabled(enabled);
    form->VaThres->setEnabled(enabled);
    form->VaThresLbl->setEnabled(enabled);
}
