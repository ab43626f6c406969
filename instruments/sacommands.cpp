#include "instruments/setupcommands.h"

namespace {
constexpr int SaSweepPoints = 20001;
constexpr double SaTriggerHoldOff = -0.6; // seconds: the sweep starts before the trigger
} // namespace

SetupTable SaSettingSteps(double centerFreq)
{
    return {
        {SendWhen::Always, "DISP:TRAC:Y:RLEV 0.0;*OPC?\n", OnFail::End},
        {SendWhen::Always, "INP1:ATT 0.0;*OPC?\n", OnFail::End},
        {SendWhen::Always, "FREQ:CENT " + SetupNumber(centerFreq) + ";*OPC?\n", OnFail::End},
        {SendWhen::Always, "FREQ:SPAN 0;*OPC?\n", OnFail::End},
        {SendWhen::Always, "TRIG1:SOUR EXT;*OPC?\n", OnFail::GoOn},
    };
}

SetupTable SaSweepSteps(double sweepTime)
{
    return {
        {SendWhen::Always, "SWE:TIME " + SetupNumber(sweepTime) + ";*OPC?\n", OnFail::End},
        {SendWhen::Always, "SWE:POIN " + QString::number(SaSweepPoints) + ";*OPC?\n", OnFail::End},
        {SendWhen::Always, "SWE:TYPE SWE;SWE:OPT;BWID:FFT AUTO;*OPC?\n", OnFail::End},
        {SendWhen::Always, "BWID 50e6;*OPC?\n", OnFail::End},
        {SendWhen::Always, "BWID:VID 20e3;*OPC?\n", OnFail::End},
    };
}

SetupTable SaOutputSteps()
{
    return {
        {SendWhen::Always, "TRIG1:HOLD " + SetupNumber(SaTriggerHoldOff) + ";*OPC?\n", OnFail::End},
        {SendWhen::Always, "TRIG1:SLOP POS;*OPC?\n", OnFail::End},
        // The IF output feeds the oscilloscope's channel 3; sent only after
        // "OUTP:IF VID" succeeded, which End guarantees.
        {SendWhen::UnlessDeskal, "OUTP:IF VID;*OPC?\n", OnFail::End},
        {SendWhen::UnlessDeskal, "OUTP:IF:IFFR 2.0;*OPC?\n", OnFail::GoOn},
    };
}

bool SaIsBriska(const QString &identity)
{
    return identity.toUpper().contains(QLatin1String("BRISKA"));
}

bool SaIsDeskal(const QString &identity)
{
    return identity.toUpper().contains(QLatin1String("DESKAL"));
}
