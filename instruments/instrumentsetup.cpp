#include "instruments/instrumentsetup.h"

#include "instruments/setupcommands.h"
#include "instruments/visasession.h"
#include "instruments/visastatustext.h"
#include "visa/resource.h"

namespace {

// Keeps the first failure of the steps that explain an outcome.
struct FirstFailure
{
    SetupOutcome &outcome;
    const ViSession &hdl; // the set-up's session, for what the instrument said

    bool note(ViStatus status, const QString &step, ViUInt32 timeoutMs)
    {
        if (status == VI_SUCCESS)
            return true;
        if (outcome.failedStatus == VI_SUCCESS) {
            outcome.failedStep = step;
            outcome.failedStatus = status;
            outcome.failedTimeoutMs = timeoutMs;
            outcome.failedDetail = InstrumentSaid(hdl, status);
        }
        return false;
    }
};

// The table's outcome, noting the step that ended it.
ViStatus RunNoted(ViSession hdl, const SetupTable &steps, const SetupFlags &flags, FirstFailure &first,
                  ViUInt32 timeoutMs)
{
    SetupStep failed{SendWhen::Always, QString(), OnFail::End};
    const ViStatus status = RunSetupSequence(hdl, steps, flags, &failed);
    first.note(status, SetupStepText(failed), timeoutMs);
    return status;
}

// Runs a table whose commands must all have been accepted: once they have
// succeeded, the error queue is read, before the table's closing
// go-to-local (a query after it would take the instrument remote again).
ViStatus RunChecked(ViSession hdl, const SetupTable &steps, const SetupFlags &flags, FirstFailure &first,
                    ViUInt32 timeoutMs)
{
    SetupTable commands = steps;
    SetupTable local;
    if (!commands.isEmpty() && commands.last().command == GoToLocal)
        local.append(commands.takeLast());
    const ViStatus status = RunNoted(hdl, commands, flags, first, timeoutMs);
    if (status != VI_SUCCESS)
        return status;
    first.outcome.refusals = ReadErrorQueue(hdl);
    return RunNoted(hdl, local, flags, first, timeoutMs);
}

// Opening and the I/O time-out; false at the first that fails.
bool Open(ViSession rm, const QString &resource, ViSession &hdl, ViUInt32 ioTimeoutMs, FirstFailure &first)
{
    return first.note(ReopenSession(rm, resource, hdl), QStringLiteral("open"), SetupOpenTimeoutMs)
           && first.note(VisaSetAttribute(hdl, VI_ATTR_TMO_VALUE, ioTimeoutMs), QStringLiteral("I/O time-out"),
                         ioTimeoutMs);
}

} // namespace

SetupOutcome SetUpOscilloscope(ViSession rm, ViSession &hdl, const OscSetupRequest &request)
{
    SetupOutcome outcome;
    outcome.resource = request.resource;
    FirstFailure first{outcome, hdl};
    SetupFlags flags;
    flags.reset = request.reset;

    // Opening, the time-out, the error query and the reset never decide the
    // outcome: the type sequence runs anyway and fails on a dead session.
    if (Open(rm, request.resource, hdl, SetupIoTimeoutMs, first))
        RunNoted(hdl, OsCheckSteps(), flags, first, SetupIoTimeoutMs);

    flags.ifDemod = request.ifDemod;
    outcome.status = RunChecked(hdl, request.type->setupSteps(request.trgLevel), flags, first, SetupIoTimeoutMs);
    // Another family's commands are what an instrument refuses most.
    outcome.refusalHint = QStringLiteral("is the Type right?");
    return outcome;
}

SetupOutcome SetUpAnalyzer(ViSession rm, ViSession &hdl, const SaSetupRequest &request)
{
    SetupOutcome outcome;
    outcome.resource = request.resource;
    FirstFailure first{outcome, hdl};

    // Identity block: each step needs the one before; none decides the outcome.
    if (Open(rm, request.resource, hdl, SetupIoTimeoutMs, first)) {
        QString reply;
        if (request.reset)
            VisaQuery(hdl, QStringLiteral("*RST;*OPC?\n"), reply); // status ignored, as on the other two
        QString identity;
        const ViStatus idn = VisaQuery(hdl, QStringLiteral("*IDN?\n"), identity);
        if (first.note(idn, QStringLiteral("*IDN?"), SetupIoTimeoutMs)) {
            outcome.identity = identity.trimmed();
            if (SaIsBriska(identity))
                VisaQuery(hdl, QStringLiteral("FREQ:MODE SW;*OPC?\n"), reply); // status ignored
        }
    }

    SetupFlags flags;
    flags.deskal = SaIsDeskal(outcome.identity);
    // A failure in the first block only skips the rest of that block; it is
    // still the likely cause when a later block fails.
    RunNoted(hdl, SaSettingSteps(request.centerFreq), flags, first, SetupIoTimeoutMs);
    ViStatus status = RunNoted(hdl, SaSweepSteps(request.type->saSweepTime()), flags, first, SetupIoTimeoutMs);
    if (status == VI_SUCCESS) {
        RunSetupSequence(hdl, SaOutputSteps(), flags);
        outcome.refusals = ReadErrorQueue(hdl);
        status = VisaGpibControlREN(hdl, VI_GPIB_REN_ADDRESS_GTL);
        first.note(status, QStringLiteral("go to local"), SetupIoTimeoutMs);
    }
    outcome.status = status;
    return outcome;
}

SetupOutcome SetUpVideoAnalyzer(ViSession rm, ViSession &hdl, const VaSetupRequest &request)
{
    SetupOutcome outcome;
    outcome.resource = request.resource;
    FirstFailure first{outcome, hdl};
    SetupFlags flags;
    flags.reset = request.reset;

    // Unlike the other two, every failure from the open on ends this set-up.
    if (!Open(rm, request.resource, hdl, VaIoTimeoutMs, first)) {
        outcome.status = outcome.failedStatus;
        return outcome;
    }
    outcome.status = RunChecked(hdl, VaSteps(request.threshold), flags, first, VaIoTimeoutMs);
    return outcome;
}

QString SetupOutcomeText(const QString &instrument, const SetupOutcome &outcome)
{
    if (outcome.ready()) {
        if (outcome.identity.isEmpty())
            return QStringLiteral("%1: ready").arg(instrument);
        return QStringLiteral("%1: ready (%2)").arg(instrument, outcome.identity);
    }
    if (outcome.status == VI_SUCCESS && outcome.refusals.refused()) {
        QString text =
            QStringLiteral("%1 at \"%2\": Init failed: the instrument %3")
                .arg(instrument, outcome.resource, RefusalText(outcome.refusals));
        if (!outcome.refusalHint.isEmpty())
            text += QStringLiteral("; ") + outcome.refusalHint;
        return text;
    }
    // The sequence can fail after an earlier step already said why.
    const ViStatus status = outcome.failedStatus != VI_SUCCESS ? outcome.failedStatus : outcome.status;
    const QString step = outcome.failedStep.isEmpty() ? QStringLiteral("set-up") : outcome.failedStep;
    QString reason = VisaStatusText(status, outcome.failedTimeoutMs);
    if (!outcome.failedDetail.isEmpty())
        reason += QStringLiteral(" (the instrument: %1)").arg(outcome.failedDetail);
    // A VXI-11 open without a port asks the host's portmapper first; a host
    // that refuses it runs none, however well it is known.
    visa::Resource parsed;
    if (step == QLatin1String("open") && status == VI_ERROR_MACHINE_NAVAIL
        && visa::parseResource(outcome.resource.toStdString(), &parsed) && parsed.kind == visa::Resource::Kind::Instr
        && parsed.port == 0)
        reason = QStringLiteral("%1: no portmapper at %2 (port 111), where VXI-11 asks for the instrument's port")
                     .arg(reason, QString::fromStdString(parsed.host));
    return QStringLiteral("%1 at \"%2\": Init failed at %3: %4").arg(instrument, outcome.resource, step, reason);
}

BenchSettings SettingsUsed(const OscSetupRequest &osc, const SaSetupRequest &sa, const VaSetupRequest &va,
                           int osTypIdx, bool ifDemod, bool hdmi, bool saveData)
{
    BenchSettings s;
    s.osIp = osc.resource;
    s.osReset = osc.reset;
    s.osType = osTypIdx;
    s.trgLevel = osc.trgLevel;
    s.saIp = sa.resource;
    s.saReset = sa.reset;
    s.centerFreq = sa.centerFreq;
    s.ifDemod = ifDemod;
    s.vaIp = va.resource;
    s.vaReset = va.reset;
    s.threshold = va.threshold;
    s.hdmi = hdmi;
    s.saveData = saveData;
    return s;
}
