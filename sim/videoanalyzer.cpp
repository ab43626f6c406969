#include "sim/videoanalyzer.h"

namespace benchsim {

static bool isSetting(const QByteArray &header)
{
    return header == "SYST:DISP:UPD" || header == "CONF:AVDA:TTV:APL:THR" || header == "CONF:AVDA:TTV:APL:HYST";
}

VideoAnalyzer::VideoAnalyzer(const Scenario &scenario)
    : Instrument(QStringLiteral("va"), scenario.latencyMs), scenario_(scenario)
{
}

bool VideoAnalyzer::execute(const Command &cmd, Context &ctx)
{
    const QByteArray &h = cmd.header;
    if (h == "READ:AVDA:TTV:STAT?") {
        ctx.add(QByteArray::number(scenario_.vaStat));
    } else if (h == "READ:AVDA:TTV:COUN?") {
        ctx.add(QByteArray::number(scenario_.vaCount));
    } else if (h == "READ:AVDA:TTV:VAL?") {
        ctx.add(QByteArray::number(scenario_.vaValue, 'g', 12));
    } else if (h == "INIT:AVDA") {
        // Starts the analyzer's own delay measurement; the results are the scenario's.
    } else if (isSetting(cmd.query ? h.chopped(1) : h)) {
        storeOrRecall(cmd, ctx);
    } else {
        return false;
    }
    return true;
}

} // namespace benchsim
