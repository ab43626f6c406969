// The main window's controls: a plain structure of widget pointers, one per
// control, filled by setupUi. The widgets belong to the window's parent
// chain; the structure itself belongs to MainWindow.
#pragma once

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QPushButton;
class QStatusBar;
class QWidget;


struct MainWindowForm
{
    QWidget *centralwidget = nullptr;
    QLineEdit *OsTrgLvl = nullptr;
    QLabel *label_3 = nullptr;
    QLabel *label_4 = nullptr;
    QLineEdit *SaFrq = nullptr;
    QLabel *label_5 = nullptr;
    QLabel *label_6 = nullptr;
    QLineEdit *MeasCnt = nullptr;
    QLabel *label_7 = nullptr;
    QPushButton *Start = nullptr;
    QGroupBox *Os = nullptr;
    QPushButton *OsInit = nullptr;
    QLineEdit *OsIp = nullptr;
    QCheckBox *OsRst = nullptr;
    QGroupBox *Sa = nullptr;
    QPushButton *SaInit = nullptr;
    QLineEdit *SaIp = nullptr;
    QCheckBox *SaRst = nullptr;
    QGroupBox *Va = nullptr;
    QPushButton *VaInit = nullptr;
    QLineEdit *VaIp = nullptr;
    QCheckBox *VaRst = nullptr;
    QLineEdit *VaThres = nullptr;
    QLabel *label_9 = nullptr;
    QLabel *VaThresLbl = nullptr;
    QCheckBox *VaHdmi = nullptr;
    QDialogButtonBox *Cancel = nullptr;
    QCheckBox *SaIfDem = nullptr;
    QComboBox *OsTyp = nullptr;
    QLabel *label_8 = nullptr;
    QCheckBox *SaveData = nullptr;
    QStatusBar *statusbar = nullptr;
    QPushButton *CalStatus = nullptr; // permanent in the status bar: the calibration in use

    // Creates every control with its form defaults, connects Cancel to the
    // window's close(), selects the second oscilloscope type and then
    // connects the window's on_<name>_<signal> slots by object name.
    void setupUi(QMainWindow *MainWindow);
    void retranslateUi(QMainWindow *MainWindow);
};

// The video-analyzer controls follow the HDMI delay switch; "%" and the
// group box stay enabled.
void EnableVaControls(MainWindowForm *form, bool enabled);
