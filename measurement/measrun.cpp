#include "measurement/measrun.h"

#include "instruments/readblock.h"
#include "instruments/setupsequence.h"
#include "instruments/visasession.h"
#include "instruments/visastatustext.h"
#include "measurement/delaycalc.h"
#include "measurement/fineedges.h"
#include "measurement/meascommands.h"

#include <QFileInfo>

#include <cmath>
#include <limits>

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

enum class Instrument { Osc, Sa, Va };

const char *InstrumentName(Instrument which)
{
    switch (which) {
    case Instrument::Osc:
        return "oscilloscope";
    case Instrument::Sa:
        return "spectrum analyzer";
    case Instrument::Va:
        return "video analyzer";
    }
    return "";
}

// The source signal must start at rest: -0.05 V < d1[0] < 0.3 V (NaN fails).
bool StartsInWindow(const QVector<double> &d1, int pts)
{
    return pts > 0 && !d1.isEmpty() && d1[0] > -0.05 && d1[0] < 0.3;
}

QString Shown(const char *command)
{
    return CommandShown(QString::fromLatin1(command));
}

// Every exchange of the run goes through here: it notes the first failure
// of the step under way (for the reason of a retake), an instrument that
// closed its connection (the run ends, and it gets no more commands) and a
// "Trace.tmp" that could not be written (the run ends: no retry can help).
class Exchanges
{
public:
    Exchanges(const RunRequest &request, const RunCallbacks &callbacks) : request_(request), callbacks_(callbacks) {}

    bool query(Instrument which, const char *command)
    {
        QString reply; // the completion answer; only the status counts
        const ViStatus status = VisaQuery(session(which), QString::fromLatin1(command), reply);
        note(which, status, Shown(command));
        return status == VI_SUCCESS;
    }

    bool queryInt(Instrument which, const char *command, ViInt32 &value)
    {
        const ViStatus status = VisaQueryInt(session(which), QString::fromLatin1(command), value);
        note(which, status, Shown(command));
        return status == VI_SUCCESS;
    }

    bool queryReal(Instrument which, const char *command, double &value)
    {
        const ViStatus status = VisaQueryReal(session(which), QString::fromLatin1(command), value);
        note(which, status, Shown(command));
        return status == VI_SUCCESS;
    }

    bool readBlock(Instrument which, const QString &command, QVector<double> *arr)
    {
        const BlockRead r = request_.spoolFile.isEmpty()
                                ? ReadBlock(session(which), command.toLatin1(), arr)
                                : ReadBlock(session(which), command.toLatin1(), arr, request_.spoolFile);
        const QString shown = CommandShown(command);
        if (r.failure == BlockFailure::SpoolFile) {
            if (spoolError_.isEmpty())
                spoolError_ = r.spoolError;
            noteText(QStringLiteral("%1 (%2): %3 could not be written")
                         .arg(shown, InstrumentName(which),
                              request_.spoolFile.isEmpty() ? QString::fromLatin1(TraceSpoolFile)
                                                           : QFileInfo(request_.spoolFile).fileName()));
        } else if (r.failure == BlockFailure::TooLarge) {
            noteText(QStringLiteral("%1 (%2): the block declares %3 bytes, more than the %4 a trace can have")
                         .arg(shown, InstrumentName(which))
                         .arg(r.declaredBytes)
                         .arg(MaxBlockBytes));
        } else if (r.failure == BlockFailure::Header && r.status >= 0) {
            noteText(QStringLiteral("%1 (%2): the reply is no binary block").arg(shown, InstrumentName(which)));
        } else if (r.failure == BlockFailure::Transfer && r.status >= 0) {
            noteText(QStringLiteral("%1 (%2): the block arrived incomplete").arg(shown, InstrumentName(which)));
        } else {
            note(which, r.status, shown);
        }
        return r.ok;
    }

    bool stopRequested() const { return callbacks_.stopRequested && callbacks_.stopRequested(); }

    // The run cannot go on: a lost instrument or an unwritable spool file.
    bool broken() const { return !lostName_.isEmpty() || !spoolError_.isEmpty(); }
    RunEnd brokenEnd() const { return spoolError_.isEmpty() ? RunEnd::ConnectionLost : RunEnd::SpoolFailed; }
    QString brokenReason() const
    {
        if (!spoolError_.isEmpty())
            return QStringLiteral("could not write %1").arg(spoolError_);
        return QStringLiteral("the %1 closed the connection (at %2)").arg(lostName_, lostAt_);
    }
    bool lost(Instrument which) const { return lost_[int(which)]; }

    // The first failure since the last call, in words.
    QString takeFailure()
    {
        const QString text = failure_;
        failure_.clear();
        failureTimedOut_ = false;
        return text;
    }
    // Whether that failure was an exchange that got no answer in time.
    bool failureTimedOut() const { return failureTimedOut_; }

private:
    ViSession session(Instrument which) const
    {
        switch (which) {
        case Instrument::Osc:
            return request_.osHdl;
        case Instrument::Sa:
            return request_.saHdl;
        case Instrument::Va:
            return request_.vaHdl;
        }
        return 0;
    }

    void note(Instrument which, ViStatus status, const QString &command)
    {
        if (status == VI_SUCCESS)
            return;
        if (status == VI_ERROR_CONN_LOST && !lost_[int(which)]) {
            lost_[int(which)] = true;
            if (lostName_.isEmpty()) {
                lostName_ = QString::fromLatin1(InstrumentName(which));
                lostAt_ = command;
            }
        }
        if (failure_.isEmpty())
            failureTimedOut_ = status == VI_ERROR_TMO;
        QString text = VisaStatusText(status, 0);
        const QString said = InstrumentSaid(session(which), status);
        if (!said.isEmpty())
            text += QStringLiteral(" (the instrument: %1)").arg(said);
        noteText(QStringLiteral("%1 (%2): %3").arg(command, InstrumentName(which), text));
    }

    void noteText(const QString &text)
    {
        if (failure_.isEmpty())
            failure_ = text;
    }

    const RunRequest &request_;
    const RunCallbacks &callbacks_;
    bool lost_[3] = {false, false, false};
    QString lostName_, lostAt_;
    QString spoolError_;
    QString failure_;
    bool failureTimedOut_ = false;
};

Instrument Target(MeasTarget target)
{
    return target == MeasTarget::Osc ? Instrument::Osc : Instrument::Sa;
}

} // namespace

void SetTraceAxis(RunRecord *run, int numPts, const OscType &type)
{
    run->recordLength = numPts;
    run->firstSampleTime = numPts > 0 ? SampleTime(0, numPts, type) : NaN;
    run->sampleInterval = numPts > 1 ? type.recordSpan / double(numPts - 1) : NaN;
}

RunOutcome RunMeasurements(const RunRequest &request, const RunCallbacks &callbacks)
{
    RunOutcome outcome;
    RunRecord &run = outcome.record;
    run.requested = request.count;
    run.started = request.started.isValid() ? request.started : QDateTime::currentDateTime();
    const OscType &type = *request.type;
    Exchanges io(request, callbacks);

    // The acquisition under way: d1 source, d2 RF envelope, d3 sink, t the
    // time axis; numPts samples per trace, kept from the last run until a
    // channel-1 read says otherwise.
    QVector<double> d1, d2, d3, t;
    int numPts = request.numPts;

    // Sends a table in order; false at the first failing command that must
    // succeed, or when a stop was asked for after an exchange.
    auto send = [&](MeasCommands table) {
        for (const MeasCommand &row : table) {
            const bool ok = io.query(Target(row.target), row.command);
            if (io.stopRequested() || (row.mustSucceed && !ok))
                return false;
        }
        return true;
    };

    // One acquisition: a fresh channel-1 trace into d1, or false.
    auto acquire = [&] {
        if (!send({&StopSweep, 1}) || !send(type.acquire))
            return false;
        const bool read = io.readBlock(Instrument::Osc, QString::fromLatin1(ReadSource), &d1);
        if (io.stopRequested() || !read)
            return false;
        numPts = d1.size();
        if (type.sweepPointsFollowRecord) {
            io.query(Instrument::Sa,
                     (QLatin1String(SweepPointsPrefix) + QString::number(numPts) + QLatin1String(";*OPC?\n"))
                         .toLatin1()
                         .constData());
            if (io.stopRequested())
                return false;
        }
        return true;
    };

    // The RF envelope into d2; false when it was not read.
    auto readRf = [&] {
        if (request.ifDemod)
            return io.readBlock(Instrument::Osc, QString::fromLatin1(ReadRfChannel), &d2);
        if (!io.query(Instrument::Sa, RfTraceFormat.command) || io.stopRequested())
            return false;
        return io.readBlock(Instrument::Sa, QLatin1String(RfTracePrefix) + QString::number(numPts) + QLatin1String("\n"),
                            &d2);
    };
    // The video analyzer's own Source->HDMI reading; 0 with the option off,
    // NaN when the analyzer has no valid reading.
    auto readHdmi = [&](Measurement &m) {
        if (!request.measHdmi) {
            m.hdGap = DelayGap::NotMeasured;
            return 0.0;
        }
        m.hdGap = DelayGap::NoReading;
        HdmiReading &h = m.hdmi;
        h.statusRead = io.queryInt(Instrument::Va, HdmiStatus, h.status);
        if (!h.statusRead || h.status != 1 || io.stopRequested())
            return NaN;
        h.countRead = io.queryInt(Instrument::Va, HdmiCount, h.count);
        if (!h.countRead || io.stopRequested())
            return NaN;
        h.valueRead = io.queryReal(Instrument::Va, HdmiValue, h.value);
        if (!h.valueRead)
            return NaN;
        m.hdGap = DelayGap::None;
        return h.value;
    };

    KeptTraces lastTraces;
    int rejectedInARow = 0;
    while (run.measurements.size() < request.count) {
        const int index = run.measurements.size() + 1;
        if (callbacks.acquiring)
            callbacks.acquiring(index, run);

        io.takeFailure();
        const bool fresh = acquire();
        t = BuildTimeAxis(numPts, type);
        if (io.stopRequested()) {
            run.end = RunEnd::Canceled;
            break;
        }
        if (io.broken()) {
            run.end = io.brokenEnd();
            run.endReason = io.brokenReason();
            break;
        }
        // A stale or out-of-window acquisition is taken again, not recorded.
        if (!fresh || !StartsInWindow(d1, numPts)) {
            Retake retake;
            retake.forMeasurement = index;
            retake.reason = fresh ? RetakeReason::OutsideWindow : RetakeReason::NoNewTrace;
            retake.timedOut = !fresh && io.failureTimedOut();
            retake.detail = fresh ? QStringLiteral("first sample %1 V").arg(d1.isEmpty() ? NaN : d1[0], 0, 'g', 6)
                                  : io.takeFailure();
            if (callbacks.retaken)
                callbacks.retaken(retake);
            run.retakes.append(retake);
            if (++rejectedInARow == MaxRejectedInARow) {
                run.end = RunEnd::Rejected;
                const QString why = fresh ? QStringLiteral("the source signal did not start between -0.05 V and 0.3 V")
                                          : QStringLiteral("no new trace could be acquired");
                run.endReason = QStringLiteral("%1 acquisitions in a row were rejected, the last because %2")
                                    .arg(MaxRejectedInARow)
                                    .arg(why);
                break;
            }
            continue;
        }

        Measurement m;
        m.index = index;
        m.acquired = QDateTime::currentDateTime();
        m.retakenBefore = rejectedInARow;
        rejectedInARow = 0;

        const bool rfRead = readRf();
        ScaleRf(d2);
        const double hdmi = io.stopRequested() ? NaN : readHdmi(m);
        const bool snkRead = !io.stopRequested() && io.readBlock(Instrument::Osc, QString::fromLatin1(ReadSink), &d3);
        if (io.stopRequested()) {
            run.end = RunEnd::Canceled;
            break;
        }

        DelayResult r = CalcDelays(numPts, d1, d2, d3, t, type);
        // A trace left over from an earlier acquisition gives no delay, and
        // is neither plotted nor written as this measurement's trace.
        m.rfGap = std::isnan(r.Src2Rf) ? DelayGap::EdgeNotFound : DelayGap::None;
        m.snkGap = std::isnan(r.Src2Snk) ? DelayGap::EdgeNotFound : DelayGap::None;
        if (!rfRead) {
            r.Src2Rf = r.trf = NaN;
            r.iRf = -1;
            m.rfGap = DelayGap::TraceNotRead;
            d2.clear();
        }
        if (!snkRead) {
            r.Src2Snk = r.tsnk = NaN;
            r.iSnk = -1;
            m.snkGap = DelayGap::TraceNotRead;
            d3.clear();
        }
        m.tsrc = r.tsrc;
        m.trf = r.trf;
        m.tsnk = r.tsnk;
        m.src2Rf = r.Src2Rf;
        m.src2Hd = hdmi;
        m.src2Snk = r.Src2Snk;
        m.fine = CalcFineEdges(numPts, d1, d2, d3, t, type, r);

        lastTraces = KeptTraces{numPts, d1, d2, d3};
        if (callbacks.kept)
            callbacks.kept(m, lastTraces);
        run.measurements.append(m);

        // The measurement under way is kept with what could be read; then
        // the run ends, since nothing more can come.
        if (io.broken()) {
            run.end = io.brokenEnd();
            run.endReason = io.brokenReason();
            break;
        }
    }

    // The graph shows the last kept measurement: traces, axis and edge marks
    // must belong together, also when a rejected or canceled acquisition came
    // after it. A run that kept nothing leaves no traces and no marks.
    outcome.tsrc = outcome.trf = outcome.tsnk = NaN;
    if (!run.measurements.isEmpty()) {
        const Measurement &last = run.measurements.last();
        outcome.last = lastTraces;
        numPts = lastTraces.count;
        outcome.t = BuildTimeAxis(numPts, type);
        outcome.tsrc = last.tsrc;
        outcome.trf = last.trf;
        outcome.tsnk = last.tsnk;
    }
    outcome.numPts = numPts;
    SetTraceAxis(&run, numPts, type);

    // Whatever happened (cancel included): oscilloscope running and analyzer
    // sweeping again, where the connection still stands.
    for (const MeasCommand &row : type.freeRun)
        if (!io.lost(Target(row.target)))
            io.query(Target(row.target), row.command);

    outcome.osLost = io.lost(Instrument::Osc);
    outcome.saLost = io.lost(Instrument::Sa);
    outcome.vaLost = io.lost(Instrument::Va);

    outcome.avgSrc2Rf = FiniteMean(run.Src2RfArr());
    outcome.avgSrc2Hd = FiniteMean(run.Src2HdArr());
    outcome.avgSrc2Snk = FiniteMean(run.Src2SnkArr());
    run.ended = QDateTime::currentDateTime();
    return outcome;
}
