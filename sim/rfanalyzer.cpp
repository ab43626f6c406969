#include "sim/rfanalyzer.h"

#include "sim/scpi.h"
#include "sim/waveform.h"

namespace benchsim {

namespace {

const char *const Settings[] = {
    "FREQ:MODE", "DISP:TRAC:Y:RLEV", "INP1:ATT", "FREQ:CENT", "FREQ:SPAN", "TRIG1:SOUR", "SWE:TYPE", "SWE:OPT",
    "BWID:FFT",  "BWID",             "BWID:VID", "TRIG1:HOLD", "TRIG1:SLOP", "OUTP:IF", "OUTP:IF:IFFR", "SYST:DISP:UPD",
};

constexpr int MaxSweepPoints = 1000001;

} // namespace

SpectrumAnalyzer::SpectrumAnalyzer(const Scenario &scenario, TruthStore *truths)
    : Instrument(QStringLiteral("sa"), scenario.latencyMs), scenario_(scenario), truths_(truths)
{
    reset();
}

void SpectrumAnalyzer::reset()
{
    sweepPoints_ = 1001;
    sweepTime_ = recordSpan(scenario_.isBenlo());
    continuous_ = true;
    ascii_ = true;
}

void SpectrumAnalyzer::answerTrace(const Command &cmd, Context &ctx)
{
    // "TRAC? TRACE1, n": n points of trace 1; without n the sweep's points.
    const QList<QByteArray> args = cmd.args.split(',');
    int n = sweepPoints_;
    bool ok = args.value(0).trimmed().toUpper() == "TRACE1";
    if (ok && args.size() > 1)
        n = args.at(1).trimmed().toInt(&ok);
    if (!ok || args.size() > 2 || n < 2 || n > MaxSweepPoints) {
        pushError(-222, "Data out of range");
        return;
    }
    int index = -1;
    double rfTime = 0;
    const bool hasBurst = truths_->latest(&index, &rfTime);
    if (ctx.refused())
        return; // nothing more is built for a response that is refused anyway
    const TraceKey key{hasBurst ? index : -1, n, sweepTime_, ascii_};
    if (traceReply_.isNull() || !(key == traceKey_)) {
        traceReply_.clear();
        const QVector<float> trace =
            analyzerTrace(scenario_, index, hasBurst, rfTime, n, sweepTime_, &traceRfIndex_, &traceRfCross_);
        traceReply_ = (ascii_ ? asciiList(trace) : floatBlock(trace)) + '\n';
        traceKey_ = key;
    }
    if (ctx.addTerminated(traceReply_) && hasBurst)
        truths_->setAnalyzerTrace(index, n, sweepTime_ / (n - 1), traceRfIndex_, traceRfCross_);
}

bool SpectrumAnalyzer::execute(const Command &cmd, Context &ctx)
{
    const QByteArray base = cmd.query ? cmd.header.chopped(1) : cmd.header;
    bool ok = false;
    if (cmd.header == "TRAC?" || cmd.header == "TRAC:DATA?") {
        answerTrace(cmd, ctx);
    } else if (base == "SWE:POIN") {
        const int n = cmd.args.toInt(&ok);
        if (cmd.query)
            ctx.add(QByteArray::number(sweepPoints_));
        else if (ok && n >= 2 && n <= MaxSweepPoints)
            sweepPoints_ = n;
        else
            pushError(-222, "Data out of range");
    } else if (base == "SWE:TIME") {
        const double s = cmd.args.toDouble(&ok);
        if (cmd.query)
            ctx.add(QByteArray::number(sweepTime_, 'g', 6));
        else if (ok && s > 0 && s <= 3600)
            sweepTime_ = s;
        else
            pushError(-222, "Data out of range");
    } else if (base == "INIT:CONT") {
        if (cmd.query)
            ctx.add(continuous_ ? "1" : "0");
        else if (!parseBool(cmd.args, &continuous_))
            pushError(-224, "Illegal parameter value");
    } else if (base == "INIT" || base == "INIT:IMM") {
        // A single sweep: it waits for the oscilloscope's trigger output.
    } else if (base == "FORM") {
        if (cmd.query)
            ctx.add(ascii_ ? "ASC,0" : "REAL,32");
        else if (!parseDataFormat(cmd.args, &ascii_))
            pushError(-224, "Illegal parameter value");
    } else {
        for (const char *entry : Settings) {
            if (base == entry) {
                storeOrRecall(cmd, ctx);
                return true;
            }
        }
        return false;
    }
    return true;
}

} // namespace benchsim
