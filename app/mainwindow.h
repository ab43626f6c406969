// The application's one window. Its slots carry every operation of the
// tool; their bodies live next to the subsystem they belong to
// (app/, instruments/, measurement/, graph/).
#pragma once

#include "instruments/instrumentsetup.h"
#include "measurement/calibration.h"
#include "shared/visatypes.h"

#include <QMainWindow>
#include <QString>
#include <QVector>

#include <memory>

struct MainWindowForm;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    double TrgLevel = 0.0;   // volts, parsed from OsTrgLvl by the oscilloscope set-up
    double CenterFreq = 0.0; // hertz, parsed from SaFrq by the spectrum-analyzer set-up
    QString AppName;
    QString CfgFile;
    std::unique_ptr<MainWindowForm> form; // created first in the constructor, deleted last in the destructor
    ViSession RmHdl = 0;
    ViSession OsHdl = 0;
    ViSession SaHdl = 0;
    ViSession VaHdl = 0;
    QString DataDir; // holds the settings file; no trailing separator

    // What the last set-up of each instrument was given, and what the
    // analyzer said about itself: a run's record keeps them.
    OscSetupRequest OsUsed;
    int OsUsedTypIdx = 1; // the Type box's index at the oscilloscope's last set-up
    SaSetupRequest SaUsed;
    VaSetupRequest VaUsed;
    QString SaIdentity;
    // Why the settings file could not be written at exit; empty when it was.
    QString SettingsError;
    // The calibration the fine delays are corrected with, kept beside the
    // settings file (app/calibrationstore.h); why it could not be read.
    Calibration CalibrationInUse;
    QString CalibrationError;
    void LoadCalibrationInUse();
    void ShowCalibration(); // the status bar's button

public slots:
    int LoadCfgFile(QString fnam);
    int SaveCfgFile(QString fnam);
    int SaveBinFile(QString fnam, QVector<double> d, ViInt32 cnt);
    int LoadBinFile(QString fnam, QVector<double> *d, ViInt32 *cnt);

private slots:
    int Meas(QVector<double> *d1, QVector<double> *d2, QVector<double> *d3, QVector<double> *t);
    void CalcDeltaT2(int pts, QVector<double> *d1, QVector<double> *d2, QVector<double> *d3,
                     QVector<double> *t, double *Src2Rf, double *Src2Snk);
    void on_VaHdmi_clicked(bool checked);
    void UndimStart();
    void on_OsInit_clicked();
    void on_SaInit_clicked();
    void on_VaInit_clicked();
    void on_Start_clicked();
    void on_OsTyp_currentIndexChanged(int index);
    bool ReadArray(ViSession hdl, QString cmd, QVector<double> *arr);
    bool IntReadArray(ViSession hdl, QVector<double> *arr);
    void on_CalStatus_clicked();

private:
    // At start-up: runs of this window's data folder that a crash left
    // unfinished are finished from their journals; the status bar says so.
    void FinishInterruptedRuns();

    // Tests drive the private slots directly.
    friend class MainWindowProbe;
};
