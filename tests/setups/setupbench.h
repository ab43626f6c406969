// A simulated bench and a fresh main window whose resource fields point at
// it; the set-ups are driven by clicking the window's buttons and judged by
// the commands the simulated instruments received.
#pragma once

#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "sim/bench.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// Settings go to a private home that lives as long as the test program.
inline void UsePrivateSettings(const QTemporaryDir &home)
{
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath("share").toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
}

inline benchsim::Fault MakeFault(const QString &instrument, const QByteArray &pattern,
                                 benchsim::Fault::Kind kind)
{
    benchsim::Fault fault;
    fault.instrument = instrument;
    fault.pattern = pattern;
    fault.kind = kind;
    return fault;
}

// A loopback resource nobody listens on: opening it is refused at once.
inline QString RefusedResource()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("TCPIP::127.0.0.1::%1::SOCKET").arg(port);
}

class SetupBench
{
public:
    explicit SetupBench(const benchsim::Scenario &scenario) : bench(scenario)
    {
        started = bench.start(&error);
        window = std::make_unique<MainWindow>();
        form = window->form;
        form->OsIp->setText(bench.resource("osc"));
        form->SaIp->setText(bench.resource("sa"));
        form->VaIp->setText(bench.resource("va"));
        // The form's defaults, whatever an earlier window saved.
        form->OsTyp->setCurrentIndex(scenario.isBenlo() ? 1 : 0);
        form->OsTrgLvl->setText("35e-3");
        form->SaFrq->setText("5.192e9");
        form->VaThres->setText("35.0");
        form->OsRst->setChecked(false);
        form->SaRst->setChecked(false);
        form->VaRst->setChecked(false);
        form->SaIfDem->setChecked(false);
        if (form->VaHdmi->isChecked())
            form->VaHdmi->click();
    }

    ~SetupBench()
    {
        const QString cfg = window->CfgFile;
        window.reset();
        QFile::remove(cfg);
        bench.stop();
    }

    // Checks the HDMI option as the operator does, which enables VaInit.
    void enableVa()
    {
        if (!form->VaHdmi->isChecked())
            form->VaHdmi->click();
    }

    static void click(QPushButton *button) { QTest::mouseClick(button, Qt::LeftButton); }

    // Program messages as received, without their line feed.
    QStringList sent(const QString &instrument) const
    {
        QStringList out;
        for (const QByteArray &command : bench.commands(instrument))
            out << QString::fromLatin1(command);
        return out;
    }

    benchsim::Bench bench;
    QString error;
    bool started = false;
    std::unique_ptr<MainWindow> window;
    MainWindowForm *form = nullptr;
};

// Picks commands of a full wire list by 1-based step numbers, as in
// "1-10,14-26": the steps a set-up is expected to have sent.
inline QStringList Steps(const QStringList &wire, const QString &spec)
{
    QStringList out;
    for (const QString &part : spec.split(',', Qt::SkipEmptyParts)) {
        const QStringList ends = part.split('-');
        for (int n = ends.first().toInt(); n <= ends.last().toInt(); ++n)
            out << wire.at(n - 1);
    }
    return out;
}
