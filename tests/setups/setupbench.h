// A simulated bench and a fresh main window whose resource fields point at
// it; the set-ups are driven by clicking the window's buttons and judged by
// the commands the simulated instruments received.
#pragma once

#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "sim/bench.h"
#include "sim/hislipserver.h"
#include "sim/vxi11server.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <clocale>
#include <memory>

// Settings go to a private home that lives as long as the test program.
// The Init buttons' two outcomes.
inline const QString Ready = QStringLiteral("Ready");
inline const QString Init = QStringLiteral("Init");
// How the simulated instrument logs a go-to-local over VXI-11 and HiSLIP; a
// raw socket carries none.
inline const QStringList Local = {QString::fromLatin1(benchsim::GoToLocalCommand)};

inline void UsePrivateSettings(const QTemporaryDir &home)
{
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath("share").toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
}

// Qt's default locale German for the life of the object, and the C
// library's too where de_DE.UTF-8 is installed; both put back afterwards.
class GermanLocale
{
public:
    explicit GermanLocale(bool active) : active_(active)
    {
        if (!active_)
            return;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        std::setlocale(LC_ALL, "de_DE.UTF-8");
    }
    ~GermanLocale()
    {
        if (!active_)
            return;
        QLocale::setDefault(savedQt_);
        std::setlocale(LC_ALL, savedC_.constData());
    }
    GermanLocale(const GermanLocale &) = delete;
    GermanLocale &operator=(const GermanLocale &) = delete;

private:
    bool active_;
    QLocale savedQt_;
    QByteArray savedC_ = std::setlocale(LC_ALL, nullptr);
};

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

// Raw sockets answer a failing step with silence, so the client waits out
// its time-out; VXI-11 fails it at once with a device error (io_timeout)
// and keeps the link, which is what a step that must "go on" needs, and so
// does HiSLIP with an Error message (an injected DeviceIoError).
enum class Transport { Socket, Vxi11, Hislip };

class SetupBench
{
public:
    explicit SetupBench(const benchsim::Scenario &scenario, Transport transport = Transport::Socket)
        : bench(scenario)
    {
        started = bench.start(&error);
        const QStringList names = {"osc", "sa", "va"};
        QStringList resources;
        if (transport == Transport::Vxi11) {
            // One address, devices inst0..inst2, no portmapper: no privileges needed.
            QVector<benchsim::Vxi11Server::Device> devices;
            for (const QString &name : names)
                devices.append({QStringLiteral("127.0.0.1"), bench.endpoint(name)});
            benchsim::Vxi11Server::Options options;
            options.portmapper = false;
            vxi11 = std::make_unique<benchsim::Vxi11Server>(devices, options);
            started = started && vxi11->start(&error);
            for (int i = 0; i < names.size(); ++i)
                resources << vxi11->resource(i);
        } else if (transport == Transport::Hislip) {
            // One port, hislip0..hislip2.
            QVector<benchsim::Endpoint *> instruments;
            for (const QString &name : names)
                instruments.append(bench.endpoint(name));
            hislip = std::make_unique<benchsim::HislipServer>(instruments);
            started = started && hislip->start(0, &error);
            for (int i = 0; i < names.size(); ++i)
                resources << hislip->resource(i);
        } else {
            for (const QString &name : names)
                resources << bench.resource(name);
        }
        window = std::make_unique<MainWindow>();
        form = window->form.get();
        form->OsIp->setText(resources.at(0));
        form->SaIp->setText(resources.at(1));
        form->VaIp->setText(resources.at(2));
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
        if (vxi11)
            vxi11->stop();
        if (hislip)
            hislip->stop();
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
    std::unique_ptr<benchsim::Vxi11Server> vxi11; // only with Transport::Vxi11
    std::unique_ptr<benchsim::HislipServer> hislip; // only with Transport::Hislip
    QString error;
    bool started = false;
    std::unique_ptr<MainWindow> window;
    MainWindowForm *form = nullptr;
};

// Picks commands of a full wire list by 1-based step numbers, as in
// "1-10,14-26": the steps a set-up is expected to have sent.
inline QStringList Steps(const QStringList &wire, const QString &stepList)
{
    QStringList out;
    for (const QString &part : stepList.split(',', Qt::SkipEmptyParts)) {
        const QStringList ends = part.split('-');
        for (int n = ends.first().toInt(); n <= ends.last().toInt(); ++n)
            out << wire.at(n - 1);
    }
    return out;
}
