// A simulated bench, a main window set up against it through its own Init
// buttons, and a watcher that looks at (and closes) whatever modal window
// the Start button brings up: the progress dialog, a message box, the graph.
#pragma once

#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "graph/graph.h"
#include "graph/graphform.h"
#include "graph/resultbox.h"
#include "sim/bench.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_magnifier.h>
#include <qwt_picker.h>
#include <qwt_plot_marker.h>

#include <functional>
#include <memory>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

// A folder nobody may write into while the object lives, root included:
// its mode goes to 0555 and, where that does not stop root, the file
// system's immutable flag is set. ok() is false where neither works.
class Unwritable
{
public:
    explicit Unwritable(const QString &path) : path_(path.toLocal8Bit())
    {
        ::chmod(path_.constData(), 0555);
        if (writable())
            setImmutable(true);
        ok_ = !writable();
    }
    ~Unwritable()
    {
        setImmutable(false);
        ::chmod(path_.constData(), 0755);
    }
    bool ok() const { return ok_; }

private:
    bool writable() const
    {
        const QByteArray probe = path_ + "/.probe";
        const int fd = ::open(probe.constData(), O_CREAT | O_WRONLY, 0644);
        if (fd < 0)
            return false;
        ::close(fd);
        ::unlink(probe.constData());
        return true;
    }
    void setImmutable(bool on)
    {
        const int fd = ::open(path_.constData(), O_RDONLY | O_DIRECTORY);
        if (fd < 0)
            return;
        int flags = 0;
        if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
        }
        ::close(fd);
    }

    QByteArray path_;
    bool ok_ = false;
};

// What the graph dialog showed when it came up.
struct GraphSeen
{
    bool shown = false;
    int points[3] = {0, 0, 0};
    QStringList markerLabels;
    QList<double> markerXs;
    QString src2Rf, src2Hd, src2Snk;
    bool hdEnabled = false;
    // Nothing but the three untitled curves and the markers is attached, no
    // legend, and nothing zooms or picks on the canvas.
    bool plainPlot = false;
};

class ModalWatcher : public QObject
{
public:
    ModalWatcher()
    {
        // Zero interval: a look at every pass of the event loop, so no label
        // the run shows between two exchanges is missed, however fast the bench.
        timer.setInterval(0);
        QObject::connect(&timer, &QTimer::timeout, this, [this] { look(); });
        timer.start();
    }

    // Called on every look while the progress dialog is up.
    std::function<void(QProgressDialog *)> onProgress;
    // Called once the graph has been looked at, before it is closed.
    std::function<void(Graph *)> onGraph;

    GraphSeen graph;
    QStringList boxTitles;
    QStringList boxTexts;
    QStringList progressLabels;

private:
    void look()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *g = qobject_cast<Graph *>(modal)) {
            graph.shown = true;
            const QwtPlotCurve *curves[] = {g->Crv1, g->Crv2, g->Crv3};
            for (int i = 0; i < 3; ++i)
                graph.points[i] = int(curves[i]->dataSize());
            for (QwtPlotItem *item : g->form->plt->itemList(QwtPlotItem::Rtti_PlotMarker)) {
                auto *m = static_cast<QwtPlotMarker *>(item);
                graph.markerLabels << m->label().text();
                graph.markerXs << m->xValue();
            }
            graph.src2Rf = g->form->Src2Rf->text();
            graph.src2Hd = g->form->Src2Hd->text();
            graph.src2Snk = g->form->Src2Snk->text();
            graph.hdEnabled = g->form->Src2Hd->isEnabled();
            QwtPlot *plt = g->form->plt;
            graph.plainPlot = !plt->legend() && plt->itemList(QwtPlotItem::Rtti_PlotCurve).size() == 3
                              && plt->itemList().size() == 3 + graph.markerLabels.size()
                              && plt->canvas()->findChildren<QwtPicker *>().isEmpty()
                              && plt->canvas()->findChildren<QwtMagnifier *>().isEmpty();
            for (const QwtPlotCurve *c : curves)
                graph.plainPlot = graph.plainPlot && c->title().isEmpty();
            if (onGraph)
                onGraph(g);
            g->accept();
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            boxTitles << box->windowTitle();
            boxTexts << box->text();
            box->accept();
        } else if (auto *progress = qobject_cast<QProgressDialog *>(modal)) {
            if (progressLabels.isEmpty() || progressLabels.last() != progress->labelText())
                progressLabels << progress->labelText();
            if (onProgress)
                onProgress(progress);
        }
    }

    QTimer timer;
};

// How the window reaches the simulated instruments.
enum class RunTransport
{
    Socket, // raw SCPI sockets
    Vxi11,  // "host,port" resources, no portmapper
    Hislip,
};

class RunBench
{
public:
    RunBench(const benchsim::Scenario &scenario, bool ifDemod, bool hdmi,
             RunTransport transport = RunTransport::Socket)
        : bench(scenario)
    {
        // "Trace.tmp" of every block read goes to the working directory.
        previousDir = QDir::currentPath();
        QDir::setCurrent(dir.path());
        started = bench.start(&error);
        if (transport == RunTransport::Vxi11)
            started = started && bench.startVxi11(&error, false);
        if (transport == RunTransport::Hislip)
            started = started && bench.startHislip(&error);
        window = std::make_unique<MainWindow>();
        form = window->form.get();
        window->DataDir = dir.filePath("data");
        auto resource = [&](const QString &instrument) {
            switch (transport) {
            case RunTransport::Vxi11:
                return bench.vxi11Resource(instrument);
            case RunTransport::Hislip:
                return bench.hislipResource(instrument);
            case RunTransport::Socket:
                break;
            }
            return bench.resource(instrument);
        };
        form->OsIp->setText(resource("osc"));
        form->SaIp->setText(resource("sa"));
        form->VaIp->setText(resource("va"));
        form->OsTyp->setCurrentIndex(scenario.isBenlo() ? 1 : 0);
        form->OsTrgLvl->setText("35e-3");
        form->SaFrq->setText("5.192e9");
        form->OsRst->setChecked(false);
        form->SaRst->setChecked(false);
        form->VaRst->setChecked(false);
        form->SaIfDem->setChecked(ifDemod);
        if (form->VaHdmi->isChecked() != hdmi)
            form->VaHdmi->click();
        form->SaveData->setChecked(true);
    }

    ~RunBench()
    {
        if (window) {
            const QString cfg = window->CfgFile;
            window.reset();
            QFile::remove(cfg);
        }
        bench.stop();
        QDir::setCurrent(previousDir);
    }

    // Initialises the instruments as the operator does; true when Start is
    // enabled. The log then starts with the run.
    bool initialise()
    {
        QTest::mouseClick(form->OsInit, Qt::LeftButton);
        QTest::mouseClick(form->SaInit, Qt::LeftButton);
        if (form->VaHdmi->isChecked())
            QTest::mouseClick(form->VaInit, Qt::LeftButton);
        bench.clearLog();
        return form->Start->isEnabled();
    }

    void start(int count)
    {
        form->MeasCnt->setText(QString::number(count));
        QTest::mouseClick(form->Start, Qt::LeftButton);
    }

    QStringList sent(const QString &instrument) const
    {
        QStringList out;
        for (const QByteArray &command : bench.commands(instrument))
            out << QString::fromLatin1(command);
        return out;
    }

    // Every instrument's messages in the order they arrived, as "osc: *TRG;*OPC?".
    QStringList sentInOrder() const
    {
        QStringList out;
        for (const benchsim::LogEntry &e : bench.log())
            out << e.instrument + ": " + QString::fromLatin1(e.command);
        return out;
    }

    // Files the run wrote next to the data directory, sorted by name.
    QStringList written(const QString &pattern) const
    {
        QStringList out;
        for (const QString &name : QDir(dir.path()).entryList({pattern}, QDir::Files, QDir::Name))
            out << dir.filePath(name);
        return out;
    }

    QTemporaryDir dir;
    QString previousDir;
    benchsim::Bench bench;
    QString error;
    bool started = false;
    std::unique_ptr<MainWindow> window;
    MainWindowForm *form = nullptr;
    ModalWatcher watcher;
};
