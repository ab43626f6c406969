#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "instruments/visasession.h"
#include "measurement/delaycalc.h"
#include "measurement/meascommands.h"
#include "measurement/resultsfile.h"
#include "measurement/runrecord.h"
#include "shared/measstate.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>

#include <limits>

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// An acquisition that keeps being rejected (no trigger, source signal out of
// range, oscilloscope not answering) would otherwise hold the run forever.
constexpr int MaxRejectedInARow = 20;

// The source signal must start at rest: -0.05 V < d1[0] < 0.3 V (NaN fails).
bool StartsInWindow(const QVector<double> &d1, int pts)
{
    return pts > 0 && !d1.isEmpty() && d1[0] > -0.05 && d1[0] < 0.3;
}

} // namespace

int MainWindow::Meas(QVector<double> *d1, QVector<double> *d2, QVector<double> *d3, QVector<double> *t)
{
    const int count = qMax(0, form->MeasCnt->text().toInt());
    const bool ifDemod = form->SaIfDem->isChecked();
    const bool benlo = OsTypIdx != 0;

    // Modal, so Start cannot be clicked again during the run; events are
    // processed between instrument exchanges, never inside one.
    QProgressDialog progress(tr("Measurement 1 of %1").arg(count), tr("Cancel"), 0, count, this);
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    if (count > 0)
        progress.show();
    auto canceled = [&progress] {
        QCoreApplication::processEvents();
        return progress.wasCanceled();
    };

    auto session = [this](MeasTarget target) { return target == MeasTarget::Osc ? OsHdl : SaHdl; };
    auto query = [](ViSession hdl, const QString &command) {
        QString reply;
        return VisaQuery(hdl, command, reply) == VI_SUCCESS;
    };
    // Sends a table in order; false at the first failing command that must
    // succeed, or when the operator canceled after an exchange.
    auto send = [&](const MeasCommand *table, int rows) {
        for (int r = 0; r < rows; ++r) {
            const bool ok = query(session(table[r].target), QString::fromLatin1(table[r].command));
            if (canceled() || (table[r].mustSucceed && !ok))
                return false;
        }
        return true;
    };

    // One acquisition: a fresh channel-1 trace into d1, or false.
    auto acquire = [&] {
        if (!send(&StopSweep, 1))
            return false;
        if (!(benlo ? send(BenloAcquire, 3) : send(OrvixAcquire, 3)))
            return false;
        const bool read = ReadArray(OsHdl, QString::fromLatin1(ReadSource), d1);
        if (canceled() || !read)
            return false;
        NumPts = d1->size();
        if (benlo) {
            query(SaHdl, QLatin1String(SweepPointsPrefix) + QString::number(NumPts) + QLatin1String(";*OPC?\n"));
            if (canceled())
                return false;
        }
        return true;
    };

    // The RF envelope into d2; false when it was not read.
    auto readRf = [&] {
        if (ifDemod)
            return ReadArray(OsHdl, QString::fromLatin1(ReadRfChannel), d2);
        if (!query(SaHdl, QString::fromLatin1(RfTraceFormat.command)) || canceled())
            return false;
        return ReadArray(SaHdl, QLatin1String(RfTracePrefix) + QString::number(NumPts) + QLatin1String("\n"), d2);
    };

    // The video analyzer's own Source->HDMI reading; 0 with the
    // option off, NaN when the analyzer has no valid reading.
    auto readHdmi = [&] {
        if (!MeasHdmi)
            return 0.0;
        ViInt32 status = 0;
        ViInt32 readings = 0;
        double value = 0.0;
        if (VisaQueryInt(VaHdl, QString::fromLatin1(HdmiStatus), status) != VI_SUCCESS || status != 1 || canceled())
            return NaN;
        if (VisaQueryInt(VaHdl, QString::fromLatin1(HdmiCount), readings) != VI_SUCCESS || canceled())
            return NaN;
        if (VisaQueryReal(VaHdl, QString::fromLatin1(HdmiValue), value) != VI_SUCCESS)
            return NaN;
        return value;
    };

    RunRecord run;
    int rejectedInARow = 0;
    bool lastRejectNoTrace = false;
    bool userCanceled = false;
    while (run.Src2RfArr.size() < count) {
        const int i = run.Src2RfArr.size();
        progress.setLabelText(tr("Measurement %1 of %2").arg(i + 1).arg(count));
        progress.setValue(i);

        const bool fresh = acquire();
        *t = BuildTimeAxis(NumPts, OsTypIdx);
        if (progress.wasCanceled()) {
            userCanceled = true;
            break;
        }
        // A stale or out-of-window acquisition is taken again, not recorded.
        if (!fresh || !StartsInWindow(*d1, NumPts)) {
            lastRejectNoTrace = !fresh;
            if (++rejectedInARow == MaxRejectedInARow)
                break;
            continue;
        }
        rejectedInARow = 0;

        const bool rfRead = readRf();
        ScaleRf(*d2);
        const double hdmi = canceled() ? NaN : readHdmi();
        const bool snkRead = !canceled() && ReadArray(OsHdl, QString::fromLatin1(ReadSink), d3);
        if (canceled()) {
            userCanceled = true;
            break;
        }

        double src2Rf = 0.0;
        double src2Snk = 0.0;
        CalcDeltaT2(NumPts, d1, d2, d3, t, &src2Rf, &src2Snk);
        // A trace left over from an earlier acquisition gives no delay, and
        // is neither plotted nor written as this measurement's trace.
        if (!rfRead) {
            src2Rf = trf = NaN;
            d2->clear();
        }
        if (!snkRead) {
            src2Snk = tsnk = NaN;
            d3->clear();
        }

        run.Src2RfArr.append(src2Rf);
        run.Src2HdArr.append(hdmi);
        run.Src2SnkArr.append(src2Snk);
        run.traces.append(KeepTraces(NumPts, *d1, *d2, *d3));
    }
    progress.close();

    // The graph shows the last accepted measurement: traces, axis and edge
    // marks must belong together, also when a rejected or canceled
    // acquisition came after it. A run that accepted nothing leaves no marks.
    if (!run.traces.isEmpty()) {
        const KeptTraces &last = run.traces.last();
        *d1 = Widen(last.src);
        *d2 = last.rf;
        *d3 = Widen(last.snk);
        NumPts = last.count;
        *t = BuildTimeAxis(NumPts, OsTypIdx);
    } else if (count > 0) {
        tsrc = trf = tsnk = NaN;
    }

    // Whatever happened (cancel included): oscilloscope running and
    // analyzer sweeping again.
    for (const MeasCommand &row : benlo ? BenloFreeRun : OrvixFreeRun)
        query(session(row.target), QString::fromLatin1(row.command));

    AvgSrc2Rf = FiniteMean(run.Src2RfArr);
    AvgSrc2Hd = FiniteMean(run.Src2HdArr);
    AvgSrc2Snk = FiniteMean(run.Src2SnkArr);

    int result = 0;
    if (form->SaveData->isChecked()) {
        const QString stamp = RunStamp(QDateTime::currentDateTime());
        result = WriteRunFiles(DataDir, stamp, run, AvgSrc2Rf, AvgSrc2Hd, AvgSrc2Snk,
                               [this](const QString &name, const QVector<double> &d, int cnt) {
                                   return SaveBinFile(name, d, cnt);
                               });
    }

    if (rejectedInARow == MaxRejectedInARow && !userCanceled) {
        const QString why = lastRejectNoTrace
                                ? tr("no new trace could be acquired")
                                : tr("the source signal did not start between -0.05 V and 0.3 V");
        QMessageBox::warning(this, tr("Measurement Stopped"),
                             tr("The run stopped after %1 of %2 measurements: %3 acquisitions in a row "
                                "were rejected, the last because %4.")
                                 .arg(run.Src2RfArr.size())
                                 .arg(count)
                                 .arg(MaxRejectedInARow)
                                 .arg(why));
    }
    return result;
}
