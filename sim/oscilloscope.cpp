#include "sim/oscilloscope.h"

#include "sim/scpi.h"

#include <cstring>

namespace benchsim {

namespace {

// Settings the application sends that change nothing the simulator returns.
// "CHAN#" stands for CHAN1..CHAN4.
const char *const OrvixSettings[] = {
    "ACQ:POIN:AUTO", "TIM:RANG",       "EXP:WAV:RAW",     "SYST:DISP:UPD",   "CHAN#:RANG",
    "CHAN#:POS",     "CHAN#:COUP",     "CHAN#:TYPE",      "TIM:SCAL",        "TIM:REF",
    "TRIG3:OFFS:LIM", "CHAN#:SCAL",    "CHAN:DIGF:CUT",   "CHAN#:BAND",      "TRIG1:MODE",
    "TRIG1:ANED:NREJ", "TRIG1:HOLD:MODE", "TRIG1:HOLD:TIME", "TRIG1:OUT:STAT", "EXP:WAV:INCX",
};

const char *const BenloSettings[] = {
    "TRIG:B:ENAB",     "TRIG:A:TYPE",          "TRIG:A:SOUR", "TRIG:A:ENAB", "TRIG:A:MODE",
    "TRIG:A:EDGE:SLOP", "TRIG:A:EDGE:COUP",    "TRIG:A:EDGE:FILT:LPAS", "ACQ:WRAT", "TIM:SCAL",
    "TIM:POS",         "TIM:REF",              "CHAN#:SCAL",  "CHAN#:POS",   "CHAN#:COUP",
    "CHAN#:TYPE",      "CHAN#:BAND",           "SYST:DISP:UPD",
};

template <size_t N>
bool inTable(const char *const (&table)[N], const QByteArray &pattern)
{
    for (const char *entry : table)
        if (pattern == entry)
            return true;
    return false;
}

// Longest record this simulator keeps in memory: 4 channels of float.
constexpr int MaxRecordLength = 10000000;

} // namespace

Oscilloscope::Oscilloscope(const Scenario &scenario, TruthStore *truths)
    : Instrument(QStringLiteral("osc"), scenario.latencyMs), scenario_(scenario), truths_(truths),
      benlo_(scenario.isBenlo())
{
    reset();
    // What the operator switched on by hand before any remote command; only
    // the power-on state, so a later "*RST" clears it like any other setting.
    for (int channel : scenario.frontPanelChannels)
        channelOn_[channel - 1] = true;
}

QByteArray Oscilloscope::identity() const
{
    if (!scenario_.oscIdn.isEmpty())
        return scenario_.oscIdn;
    return benlo_ ? "Benlo,SIMSCOPE-4,B000301,1.0" : "Orvix,SIMSCOPE-4,O000301,1.0";
}

void Oscilloscope::reset()
{
    recordLength_ = benlo_ ? scenario_.benloPoints : 10000;
    ascii_ = true;
    channelOn_[0] = true;
    channelOn_[1] = channelOn_[2] = channelOn_[3] = false;
    triggerLevel_ = 0.0;
    runState_ = "RUN";
}

void Oscilloscope::acquire()
{
    hasAcquisition_ = false;
    for (int c = 0; c < 3; ++c) {
        hasSamples_[c] = false;
        asciiReply_[c].clear();
        asciiTooLong_[c] = false;
    }
    planAcquisition(scenario_, truths_->count(), recordLength_, &last_);
    truths_->add(last_.truth, last_.rfTime);
    hasAcquisition_ = true;
}

const QByteArray &Oscilloscope::realReply(int index)
{
    // Should memory run out half-way, no half-made record is ever answered:
    // the next read makes the samples again.
    if (!hasSamples_[index]) {
        makeSamples(scenario_, index, &last_);
        hasSamples_[index] = true;
        if (index == 2)
            truths_->setRfCrossing(last_.truth.index, last_.truth.rfCrossS);
    }
    return last_.block[index];
}

const QByteArray &Oscilloscope::asciiReply(int index)
{
    QByteArray &reply = asciiReply_[index];
    if (reply.isNull() && !asciiTooLong_[index]) {
        QByteArray text;
        const QByteArray &block = realReply(index);
        const char *samples = block.constData() + last_.dataOffset;
        if (appendAsciiList(samples, last_.truth.points, MaxResponseBytes - 1, &text)) {
            text.append('\n');
            reply = text;
        } else {
            asciiTooLong_[index] = true;
        }
    }
    return reply;
}

const QByteArray &Oscilloscope::zeroReply()
{
    const int points = last_.truth.points;
    if (zeroPoints_ != points) {
        zeroReply_[0].clear();
        zeroReply_[1].clear();
        zeroPoints_ = points;
    }
    QByteArray &reply = zeroReply_[ascii_ ? 1 : 0];
    if (reply.isNull()) {
        if (ascii_) {
            reply = QByteArray("0,").repeated(points);
            reply[reply.size() - 1] = '\n';
        } else {
            const QByteArray header = blockHeader(qint64(points) * 4);
            reply = QByteArray(header.size() + points * 4 + 1, '\0');
            memcpy(reply.data(), header.constData(), size_t(header.size()));
            reply[reply.size() - 1] = '\n';
        }
    }
    return reply;
}

void Oscilloscope::trigger(Context &ctx)
{
    // Edge trigger on the source step: a level the step never crosses never
    // triggers, so the acquisition and its "*OPC?" never complete.
    if (triggerLevel_ >= SourceStepV) {
        ctx.stalled = true;
        return;
    }
    acquire();
    ctx.delayMs = addDelay(ctx.delayMs, scenario_.acquisitionMs);
}

void Oscilloscope::answerData(int channel, Context &ctx)
{
    if (!hasAcquisition_)
        acquire(); // the screen always shows a record
    const bool on = channelOn_[channel - 1];
    if (!on)
        pushError(-221, "Settings conflict;channel off");
    if (ctx.refused())
        return; // nothing more is built for a response that is refused anyway
    // A channel that is off (or channel 4, which carries no signal) was not recorded: zeros.
    if (!on || channel > 3) {
        ctx.addTerminated(zeroReply());
    } else if (!ascii_) {
        ctx.addTerminated(realReply(channel - 1));
    } else {
        const QByteArray &text = asciiReply(channel - 1);
        if (text.isNull())
            ctx.refuse();
        else
            ctx.addTerminated(text);
    }
}

bool Oscilloscope::setChannel(int channel, const Command &cmd, Context &ctx)
{
    bool &on = channelOn_[channel - 1];
    if (cmd.query) {
        ctx.add(on ? "1" : "0");
    } else if (!parseBool(cmd.args, &on)) {
        pushError(-224, "Illegal parameter value");
    }
    return true;
}

bool Oscilloscope::setTriggerLevel(const Command &cmd, Context &ctx)
{
    if (cmd.query) {
        ctx.add(QByteArray::number(triggerLevel_, 'g', 6));
        return true;
    }
    bool ok = false;
    const double level = cmd.args.toDouble(&ok);
    if (ok)
        triggerLevel_ = level;
    else
        pushError(-224, "Illegal parameter value");
    return true;
}

bool Oscilloscope::setRunState(const QByteArray &state, const Command &cmd, Context &ctx)
{
    if (cmd.query)
        ctx.add(runState_);
    else
        runState_ = state;
    return true;
}

bool Oscilloscope::execute(const Command &cmd, Context &ctx)
{
    int channel = 0;
    const QByteArray pattern = channelPattern(cmd.header, &channel);
    // "CHAN#" is the tables' placeholder: a header sent with a literal '#'
    // names no channel and must not reach the per-channel state.
    if (channel == 0 && pattern.startsWith("CHAN#"))
        return false;

    if (pattern == "CHAN#:DATA?") {
        answerData(channel, ctx);
        return true;
    }
    if (pattern == "FORM" || pattern == "FORM?") {
        if (cmd.query)
            ctx.add(ascii_ ? "ASC,0" : "REAL,32");
        else if (!parseDataFormat(cmd.args, &ascii_))
            pushError(-224, "Illegal parameter value");
        return true;
    }
    if (pattern == "RUN" || pattern == "STOP")
        return setRunState(pattern, cmd, ctx);
    return benlo_ ? executeBenlo(pattern, channel, cmd, ctx) : executeOrvix(pattern, channel, cmd, ctx);
}

bool Oscilloscope::executeOrvix(const QByteArray &pattern, int channel, const Command &cmd, Context &ctx)
{
    const QByteArray base = cmd.query ? pattern.chopped(1) : pattern;
    if (base == "CHAN#")
        return setChannel(channel, cmd, ctx);
    if (base == "TRIG1:LEV1")
        return setTriggerLevel(cmd, ctx);
    if (pattern == "RUNC")
        return setRunState("RUN", cmd, ctx);
    if (base == "INIT:CONT") {
        bool on = true;
        if (cmd.query)
            ctx.add(runState_ == "RUN" ? "1" : "0");
        else if (parseBool(cmd.args, &on))
            runState_ = on ? "RUN" : "SINGLE";
        else
            pushError(-224, "Illegal parameter value");
        return true;
    }
    if (base == "ACQ:POIN") {
        bool ok = false;
        const int n = cmd.args.toInt(&ok);
        if (cmd.query)
            ctx.add(QByteArray::number(recordLength_));
        else if (ok && n >= 2 && n <= MaxRecordLength)
            recordLength_ = n;
        else
            pushError(-222, "Data out of range");
        return true;
    }
    if (inTable(OrvixSettings, base)) {
        storeOrRecall(cmd, ctx);
        return true;
    }
    return false;
}

bool Oscilloscope::executeBenlo(const QByteArray &pattern, int channel, const Command &cmd, Context &ctx)
{
    const QByteArray base = cmd.query ? pattern.chopped(1) : pattern;
    if (base == "CHAN#:STAT")
        return setChannel(channel, cmd, ctx);
    if (base == "TRIG:A:LEV1")
        return setTriggerLevel(cmd, ctx);
    if (pattern == "SING")
        return setRunState("SINGLE", cmd, ctx);
    if (pattern == "ACQ:POIN?") {
        ctx.add(QByteArray::number(recordLength_));
        return true;
    }
    if (inTable(BenloSettings, base)) {
        storeOrRecall(cmd, ctx);
        return true;
    }
    return false;
}

} // namespace benchsim
