#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "graph/statisticsfollow.h"
#include "instruments/visasession.h"
#include "measurement/measrun.h"
#include "measurement/resultsfile.h"
#include "measurement/runfiles.h"
#include "measurement/runprogress.h"
#include "measurement/runwriter.h"
#include "shared/measstate.h"
#include "shared/typednumber.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>

int MainWindow::Meas(QVector<double> *d1, QVector<double> *d2, QVector<double> *d3, QVector<double> *t)
{
    Q_UNUSED(d1);
    Q_UNUSED(d2);
    Q_UNUSED(d3);
    Q_UNUSED(t);
    // They point at the shared vectors, which PublishRun fills.
    int count = 0;
    if (!TypedCount(form->MeasCnt->text(), &count))
        return -1; // Start says why; nothing is sent

    RunRequest request;
    request.count = count;
    // What the oscilloscope was set up for; Start makes sure the Type box agrees.
    request.type = OsUsed.type;
    request.numPts = NumPts;
    request.ifDemod = form->SaIfDem->isChecked();
    request.measHdmi = MeasHdmi;
    request.osHdl = OsHdl;
    request.saHdl = SaHdl;
    request.vaHdl = VaHdl;
    const bool save = form->SaveData->isChecked();

    // What the run is set up with, for its files and its record.
    RunRecord head;
    head.settings = SettingsUsed(OsUsed, SaUsed, VaUsed, OsUsedTypIdx, request.ifDemod, MeasHdmi, save);
    head.saIdentity = SaIdentity;
    head.calibration = CalibrationInUse;
    head.requested = count;
    head.started = QDateTime::currentDateTime();
    request.started = head.started;
    // With Save Data each measurement is on disk as it is taken: a crash
    // costs at most the one under way, and the next start finishes the run.
    RunWriter writer;
    if (save)
        writer.begin(DataDir, QString(), head, true);

    // The first line stays "Measurement i of N"; the running figures follow.
    QElapsedTimer clock;
    clock.start();
    RunTally tally;
    auto label = [&clock, &tally, count](int index, const RunRecord &sofar) {
        tally.catchUp(sofar);
        const RunProgress p = ProgressOf(index, count, tally, sofar, clock.elapsed());
        const QString left = TimeLeftText(p);
        const QString hint = TriggerHintText(p);
        return tr("Measurement %1 of %2").arg(index).arg(count) + QLatin1Char('\n')
               + tr("Means so far: %1").arg(RunningMeansText(p)) + QLatin1Char('\n')
               + tr("Retaken so far: %1").arg(p.retaken) + (left.isEmpty() ? QString() : QStringLiteral("; ") + left)
               + (hint.isEmpty() ? QString() : QLatin1Char('\n') + hint.left(1).toUpper() + hint.mid(1));
    };

    // Modal, so Start cannot be clicked again during the run; events are
    // processed between instrument exchanges, never inside one.
    QProgressDialog progress(label(1, RunRecord()), tr("Cancel"), 0, count, this);
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.show();
    // An open Statistics window follows the run.
    StatisticsFollower follower(this);
    RunCallbacks callbacks;
    callbacks.acquiring = [&progress, &label, &follower](int index, const RunRecord &sofar) {
        progress.setLabelText(label(index, sofar));
        progress.setValue(index - 1);
        follower.update(sofar);
    };
    callbacks.stopRequested = [&progress] {
        QCoreApplication::processEvents();
        return progress.wasCanceled();
    };
    callbacks.kept = [&writer](Measurement &m, const KeptTraces &traces) { writer.kept(m, traces); };
    callbacks.retaken = [&writer](const Retake &retake) { writer.retaken(retake); };
    RunOutcome outcome = RunMeasurements(request, callbacks);
    progress.close();

    RunRecord &run = outcome.record;
    run.settings = head.settings;
    run.saIdentity = head.saIdentity;
    run.calibration = head.calibration;
    if (writer.begun())
        run.filesAt = writer.filesAt();

    int result = 0;
    QStringList problems;
    if (save) {
        const RunFilesReport written = writer.finish(outcome);
        if (!written.resultsError.isEmpty())
            result = -1;
        problems = written.problems();
        if (!writer.begun() && written.resultsError.isEmpty())
            problems.prepend(tr("%1; the trace files were not written").arg(writer.error()));
    }
    PublishRun(outcome);

    // A session whose instrument closed the connection is gone: its button
    // asks for a new set-up, and Start waits for it.
    QStringList lost;
    struct Lost
    {
        bool lost;
        ViSession &hdl;
        QPushButton *button;
        QString name;
    };
    for (const Lost &l : {Lost{outcome.osLost, OsHdl, form->OsInit, tr("Oscilloscope")},
                          Lost{outcome.saLost, SaHdl, form->SaInit, tr("Spectrum analyzer")},
                          Lost{outcome.vaLost, VaHdl, form->VaInit, tr("Video analyzer")}}) {
        if (!l.lost)
            continue;
        VisaClose(l.hdl);
        l.hdl = 0;
        l.button->setText(QStringLiteral("Init"));
        lost << l.name;
    }
    if (!lost.isEmpty())
        UndimStart();

    statusBar()->showMessage(
        RunSummary(run)
        + (lost.isEmpty() ? QString()
                          : tr(" — %1: connection closed, Init again").arg(lost.join(QStringLiteral(", ")))));
    if (run.end == RunEnd::Rejected || run.end == RunEnd::ConnectionLost || run.end == RunEnd::SpoolFailed) {
        QMessageBox::warning(this, tr("Measurement Stopped"),
                             tr("The run stopped after %1 of %2 measurements: %3.")
                                 .arg(run.measurements.size())
                                 .arg(count)
                                 .arg(run.endReason));
    }
    if (!problems.isEmpty())
        QMessageBox::warning(this, tr("Files Not Written"), problems.join(QLatin1Char('\n')));
    return result;
}
