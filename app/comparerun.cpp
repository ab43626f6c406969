#include "app/comparerun.h"

#include "app/histogramplot.h"
#include "app/statstable.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {

void Print(std::FILE *to, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

// "A: runs/a.json, label nightly-1, started 2026-03-01T14:05:09, 20 measurements"
QString RunLine(const QString &which, const QString &path, const StoredRun &run)
{
    QString text = QStringLiteral("%1: %2").arg(which, QDir::toNativeSeparators(path));
    if (!run.label.isEmpty())
        text += QStringLiteral(", label %1").arg(run.label);
    if (!run.started.isEmpty())
        text += QStringLiteral(", started %1").arg(run.started);
    return text + QStringLiteral(", %1 measurements\n").arg(run.src2Snk.size());
}

// What the plot's legend calls a run: its label, else its file's name.
QString LegendName(const QString &which, const QString &path, const StoredRun &run)
{
    return QStringLiteral("%1: %2").arg(which, run.label.isEmpty() ? QFileInfo(path).fileName() : run.label);
}

} // namespace

int CompareRuns(const CommandLine &cl, int argc, char *argv[])
{
    StoredRun a, b;
    QString error;
    if (!ReadRunRecord(cl.compareA, &a, &error) || !ReadRunRecord(cl.compareB, &b, &error)) {
        Print(stderr, error + QLatin1Char('\n'));
        return ExitFailure;
    }
    Print(stdout, RunLine(QStringLiteral("A"), cl.compareA, a) + RunLine(QStringLiteral("B"), cl.compareB, b)
                      + QLatin1Char('\n') + CompareTable(a, b));
    if (cl.plotFile.isEmpty())
        return ExitDone;

    // Qwt draws with widgets; the offscreen platform needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (!WriteHistogramPicture(cl.plotFile, a, LegendName(QStringLiteral("A"), cl.compareA, a), b,
                               LegendName(QStringLiteral("B"), cl.compareB, b), &error)) {
        Print(stderr, QStringLiteral("Could not write %1: %2\n").arg(QDir::toNativeSeparators(cl.plotFile), error));
        return ExitFailure;
    }
    Print(stdout, QStringLiteral("\nPlot: %1\n").arg(QDir::toNativeSeparators(cl.plotFile)));
    return ExitDone;
}
