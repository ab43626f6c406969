#include "instruments/setupsequence.h"

#include "instruments/visasession.h"
#include "shared/typednumber.h"

#include <cmath>

const QString GoToLocal;

namespace {

bool StepWanted(SendWhen when, const SetupFlags &flags)
{
    switch (when) {
    case SendWhen::Always:
        return true;
    case SendWhen::IfDemod:
        return flags.ifDemod;
    case SendWhen::IfReset:
        return flags.reset;
    case SendWhen::UnlessDeskal:
        return !flags.deskal;
    }
    return false;
}

} // namespace

SetupIo SessionIo(ViSession vi)
{
    SetupIo io;
    io.query = [vi](const QString &command) {
        QString reply; // the completion answer; only the status counts
        return VisaQuery(vi, command, reply);
    };
    io.goToLocal = [vi]() { return VisaGpibControlREN(vi, VI_GPIB_REN_ADDRESS_GTL); };
    return io;
}

ViStatus RunSetupSequence(const SetupIo &io, const SetupTable &steps, const SetupFlags &flags,
                          SetupStep *failedStep)
{
    for (const SetupStep &step : steps) {
        if (!StepWanted(step.when, flags))
            continue;
        const ViStatus status = step.command.isEmpty() ? io.goToLocal() : io.query(step.command);
        if (status == VI_SUCCESS)
            continue;
        if (failedStep && step.onFail != OnFail::GoOn)
            *failedStep = step;
        switch (step.onFail) {
        case OnFail::GoOn:
            continue;
        case OnFail::LocalThenEnd:
            io.goToLocal();
            return status;
        case OnFail::End:
            return status;
        }
    }
    return VI_SUCCESS;
}

ViStatus RunSetupSequence(ViSession vi, const SetupTable &steps, const SetupFlags &flags,
                          SetupStep *failedStep)
{
    return RunSetupSequence(SessionIo(vi), steps, flags, failedStep);
}

QString CommandShown(const QString &command)
{
    QString text = command.trimmed();
    if (text.endsWith(QLatin1String(";*OPC?")))
        text.chop(6);
    return text;
}

QString SetupStepText(const SetupStep &step)
{
    return step.command.isEmpty() ? QStringLiteral("go to local") : CommandShown(step.command);
}

ViStatus ReopenSession(ViSession rm, const QString &resource, ViSession &vi)
{
    if (vi != VI_NULL) {
        VisaClose(vi);
        vi = VI_NULL;
    }
    return VisaOpen(rm, resource, VI_NULL, SetupOpenTimeoutMs, vi);
}

QString SetupNumber(double value)
{
    return QString::number(value, 'g', 6);
}

double SetupValue(const QString &text)
{
    return TypedNumber(text);
}
