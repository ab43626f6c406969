#include "app/mainwindow.h"

#include "app/datapaths.h"
#include "app/findinstrumentsdialog.h"
#include "app/mainwindowform.h"
#include "instruments/visasession.h"
#include "shared/measstate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    form = std::make_unique<MainWindowForm>();
    form->setupUi(this);
    for (QLineEdit *resource : {form->OsIp, form->SaIp, form->VaIp})
        AddFindInstrumentsEntry(resource);

    if (VisaOpenDefaultRM(RmHdl) != VI_SUCCESS) {
        QMessageBox::information(this, QStringLiteral("VISA Error"),
                                 QStringLiteral("VISA master handle not available."));
        // The window is not shown yet, so this has no effect: start-up goes on
        // and every instrument set-up then fails at opening its session.
        close();
    }

    setWindowTitle(QStringLiteral("QuenviaCodecTiming"));

    AppName = AppNameFromPath(QCoreApplication::applicationFilePath());
    DataDir = UserDataDir();
    // One level only; a missing parent is created when the settings are written at exit.
    QDir().mkdir(DataDir);
    CfgFile = CfgFilePath(DataDir, AppName);

    LoadCfgFile(CfgFile);
    LoadCalibrationInUse();
    FinishInterruptedRuns();

    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
}

MainWindow::~MainWindow()
{
    // Every session this window opened, the video analyzer's too whatever
    // the HDMI box says now: LAN instruments allow only a few links, and a
    // link left open can keep the next start from getting one.
    for (ViSession vi : {OsHdl, SaHdl, VaHdl})
        if (vi != 0)
            VisaClose(vi);
    if (RmHdl != 0)
        VisaClose(RmHdl);
    // The window still closes; the operator learns that this session's
    // settings are lost and why.
    if (SaveCfgFile(CfgFile) != 0)
        QMessageBox::warning(nullptr, QStringLiteral("Settings Not Saved"), SettingsError);
    form.reset();
}

// Start needs every instrument of this run set up; the comparison is exact,
// so any other button text (a failed set-up leaves "Init") disables it.
void MainWindow::UndimStart()
{
    const QString ready = QStringLiteral("Ready");
    bool ok = form->OsInit->text() == ready && form->SaInit->text() == ready;
    if (MeasHdmi)
        ok = ok && form->VaInit->text() == ready;
    form->Start->setEnabled(ok);
}

// Start is left as it is; the next set-up's UndimStart applies the new rule.
void MainWindow::on_VaHdmi_clicked(bool checked)
{
    EnableVaControls(form.get(), checked);
    MeasHdmi = checked;
}

void MainWindow::on_OsTyp_currentIndexChanged(int index)
{
    OsTypIdx = index;
    // An instrument set up for another family would record or sweep another
    // time window than the one the delays are computed on: it must be set
    // up again before a run.
    const OscType &shown = OscTypeOf(index);
    const QString ready = QStringLiteral("Ready");
    QStringList again;
    if (form->OsInit->text() == ready && OsUsed.type != &shown) {
        form->OsInit->setText(QStringLiteral("Init"));
        again << tr("the oscilloscope");
    }
    if (form->SaInit->text() == ready && SaUsed.type != &shown) {
        form->SaInit->setText(QStringLiteral("Init"));
        again << tr("the spectrum analyzer");
    }
    if (again.isEmpty())
        return;
    statusBar()->showMessage(
        tr("Type is now %1: Init %2 again").arg(QLatin1String(shown.name), again.join(tr(" and "))));
    UndimStart();
}
