#include "instruments/setupcommands.h"

namespace {
constexpr int OrvixRecordLength = 20000; // acquisition points
}

SetupTable OsCheckSteps()
{
    return {
        {SendWhen::Always, "SYST:ERR?\n", OnFail::End},
        {SendWhen::IfReset, "*RST;*OPC?\n", OnFail::GoOn},
    };
}

SetupTable OrvixSteps(double trgLevel)
{
    return {
        {SendWhen::Always, "ACQ:POIN:AUTO 1;*OPC?\n", OnFail::End},
        {SendWhen::Always, "TIM:RANG 1.0;*OPC?\n", OnFail::End},
        {SendWhen::Always, "ACQ:POIN " + QString::number(OrvixRecordLength) + ";*OPC?\n", OnFail::End},
        {SendWhen::Always, "EXP:WAV:RAW ON;*OPC?\n", OnFail::End},
        {SendWhen::Always, "CHAN1 ON;STOP;*OPC?\n", OnFail::End},
        {SendWhen::Always, "SYST:DISP:UPD ON;*OPC?\n", OnFail::End},
        {SendWhen::Always, "CHAN1 ON;CHAN1:RANG 0.5;*OPC?\n", OnFail::End},
        {SendWhen::Always, "CHAN1:POS -2.0;CHAN1:COUP DC;*OPC?\n", OnFail::End},
        {SendWhen::Always, "CHAN2 ON;CHAN2:RANG 0.5;*OPC?\n", OnFail::End},
        {SendWhen::Always, "CHAN2:POS -2.0;CHAN2:COUP DC;*OPC?\n", OnFail::End},
        // Channel 3 carries the analyzer's demodulated IF/video output.
        {SendWhen::IfDemod, "CHAN3 ON;CHAN3:RANG 0.5;*OPC?\n", OnFail::End},
        {SendWhen::IfDemod, "CHAN3:POS -3.0;CHAN3:COUP DC;*OPC?\n", OnFail::End},
        {SendWhen::IfDemod, "CHAN3:TYPE RMS;*OPC?\n", OnFail::End},
        {SendWhen::Always, "TIM:SCAL 100e-3;TIM:REF 50;TRIG3:OFFS:LIM 0;*OPC?\n", OnFail::GoOn},
        // From here on the instrument is always handed back to the front panel.
        {SendWhen::Always, "CHAN3:SCAL 200e-3;*OPC?\n", OnFail::LocalThenEnd},
        {SendWhen::Always, "CHAN:DIGF:CUT 100e3;*OPC?\n", OnFail::LocalThenEnd},
        {SendWhen::Always, "CHAN1:BAND B20;*OPC?\n", OnFail::LocalThenEnd},
        {SendWhen::Always, "TRIG1:LEV1 " + SetupNumber(trgLevel) + ";*OPC?\n", OnFail::LocalThenEnd},
        {SendWhen::Always, "TRIG1:MODE NORM;*OPC?\n", OnFail::LocalThenEnd},
        {SendWhen::Always, "TRIG1:ANED:NREJ ON;*OPC?\n", OnFail::LocalThenEnd},
        {SendWhen::Always, "TRIG1:HOLD:MODE TIME;*OPC?\n", OnFail::LocalThenEnd},
        {SendWhen::Always, "TRIG1:HOLD:TIME 1.3;*OPC?\n", OnFail::LocalThenEnd},
        {SendWhen::Always, "TRIG1:OUT:STAT ON;*OPC?\n", OnFail::LocalThenEnd},
        {SendWhen::Always, "FORM ASC;*OPC?\n", OnFail::LocalThenEnd},
        {SendWhen::Always, "EXP:WAV:INCX OFF;*OPC?\n", OnFail::LocalThenEnd},
        {SendWhen::Always, "RUN;*OPC?\n", OnFail::LocalThenEnd},
        {SendWhen::Always, GoToLocal, OnFail::GoOn},
    };
}

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
