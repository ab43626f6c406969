// Screenshots for the documentation: the main window with its instruments
// initialised from the settings file, the graph dialog after a run, and the
// Statistics window it opens, on its first page and on its Traces page.
// Built under the application's own name so that it reads the same settings
// file; scripts/screenshots.sh starts the simulated bench and runs it.
#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "graph/graph.h"
#include "graph/statisticswindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s <main-window.png> <graph.png> <statistics.png> <traces.png>\n", argv[0]);
        return 2;
    }
    const QString mainShot = QString::fromLocal8Bit(argv[1]);
    const QString graphShot = QString::fromLocal8Bit(argv[2]);
    const QString statisticsShot = QString::fromLocal8Bit(argv[3]);
    const QString tracesShot = QString::fromLocal8Bit(argv[4]);

    MainWindow w;
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        return 1;
    QTest::mouseClick(w.form->OsInit, Qt::LeftButton);
    QTest::mouseClick(w.form->SaInit, Qt::LeftButton);
    if (w.form->VaInit->isEnabled())
        QTest::mouseClick(w.form->VaInit, Qt::LeftButton);
    w.form->MeasCnt->setText(QStringLiteral("5"));
    for (QLineEdit *ip : {w.form->OsIp, w.form->SaIp, w.form->VaIp})
        ip->setCursorPosition(0); // show the start of the resource string
    QTest::qWait(300);
    bool ok = w.form->Start->isEnabled() && w.grab().save(mainShot);
    // Enough measurements for the histograms to show a spread.
    w.form->MeasCnt->setText(QStringLiteral("40"));

    bool graphSaved = false;
    bool statisticsSaved = false;
    bool tracesSaved = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *g = qobject_cast<Graph *>(QApplication::activeModalWidget());
        if (!g || !g->isVisible())
            return;
        QTest::qWait(300); // let the plot lay out and paint once
        graphSaved = g->grab().save(graphShot);
        g->showStatistics();
        StatisticsWindow *s = g->statisticsWindow();
        if (s && QTest::qWaitForWindowExposed(s)) {
            QTest::qWait(300);
            statisticsSaved = s->grab().save(statisticsShot);
            // An earlier measurement, read back from its trace files.
            s->pages->setCurrentIndex(StatisticsWindow::TracesPage);
            s->traceIndex->setValue(12);
            QTest::qWait(300);
            tracesSaved = s->grab().save(tracesShot);
            s->pages->setCurrentIndex(StatisticsWindow::FiguresPage);
        }
        g->accept();
    });
    poll.start(50);
    QTest::mouseClick(w.form->Start, Qt::LeftButton);
    poll.stop();

    ok = ok && graphSaved && statisticsSaved && tracesSaved;
    std::fprintf(stderr, "%s\n", ok ? "screenshots saved" : "screenshots failed");
    return ok ? 0 : 1;
}
