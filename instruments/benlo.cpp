// The "Benlo" family: a 1.2 s window of the instrument's own record length,
// channel 1 as trigger source; the analyzer's sweep is given the record's
// point count after every channel-1 read.
#include "instruments/osctype.h"
#include "instruments/setupcommands.h"

namespace {

constexpr MeasCommand BenloAcquire[] = {
    {MeasTarget::Osc, "SING;*OPC?\n", false}, // its status is ignored
    {MeasTarget::Osc, "FORM REAL,32;*OPC?\n", true},
    {MeasTarget::Osc, "*TRG;*OPC?\n", true},
};

constexpr MeasCommand BenloFreeRun[] = {
    {MeasTarget::Osc, "RUN;*OPC?\n", false},
    {MeasTarget::Sa, "INIT:CONT ON;*OPC?\n", false},
};

} // namespace

SetupTable BenloSteps(double trgLevel)
{
    return {
        {SendWhen::Always, "TRIG:B:ENAB OFF;*OPC?\n", OnFail::End},
        {SendWhen::Always, "TRIG:A:TYPE EDGE;*OPC?\n", OnFail::End},
        {SendWhen::Always, "TRIG:A:SOUR CH1;*OPC?\n", OnFail::End},
        {SendWhen::Always, "TRIG:A:ENAB ON;*OPC?\n", OnFail::End},
        {SendWhen::Always, "TRIG:A:MODE NORM;*OPC?\n", OnFail::End},
        {SendWhen::Always, "TRIG:A:EDGE:SLOP POS;*OPC?\n", OnFail::End},
        {SendWhen::Always, "TRIG:A:EDGE:COUP DC;*OPC?\n", OnFail::End},
        {SendWhen::Always, "TRIG:A:EDGE:FILT:LPAS ON;*OPC?\n", OnFail::End},
        {SendWhen::Always, "TRIG:A:LEV1 " + SetupNumber(trgLevel) + ";*OPC?\n", OnFail::End},
        {SendWhen::Always, "ACQ:WRAT MSAM;*OPC?\n", OnFail::End},
        {SendWhen::Always, "TIM:SCAL 0.1;*OPC?\n", OnFail::End},
        {SendWhen::Always, "TIM:POS 0.0;*OPC?\n", OnFail::End},
        {SendWhen::Always, "TIM:REF 50;*OPC?\n", OnFail::End},
        {SendWhen::Always, "CHAN2:STAT ON;*OPC?\n", OnFail::End},
        {SendWhen::Always, "CHAN2:SCAL 0.05;*OPC?\n", OnFail::End},
        {SendWhen::Always, "CHAN2:POS -3.0;*OPC?\n", OnFail::End},
        {SendWhen::Always, "CHAN2:COUP DCL;*OPC?\n", OnFail::End},
        {SendWhen::Always, "CHAN2:TYPE SAMP;*OPC?\n", OnFail::End},
        {SendWhen::Always, "CHAN2:BAND B20;*OPC?\n", OnFail::End},
        {SendWhen::Always, "CHAN1:STAT ON;*OPC?\n", OnFail::End},
        {SendWhen::Always, "CHAN1:SCAL 0.05;*OPC?\n", OnFail::End},
        {SendWhen::Always, "CHAN1:POS -3.0;*OPC?\n", OnFail::End},
        {SendWhen::Always, "CHAN1:COUP DCL;*OPC?\n", OnFail::End},
        {SendWhen::Always, "CHAN1:TYPE SAMP;*OPC?\n", OnFail::End},
        {SendWhen::Always, "CHAN1:BAND B20;*OPC?\n", OnFail::End},
        {SendWhen::Always, GoToLocal, OnFail::GoOn},
    };
}

const OscType BenloType{
    "Benlo", 1.2, -0.6, BenloSteps, Table(BenloAcquire), true, Table(BenloFreeRun),
};
