// The "Orvix" family: a 1.0 s window of 20000 acquisition points that the
// set-up asks for, a single acquisition stopped and triggered by command.
#include "instruments/osctype.h"
#include "instruments/setupcommands.h"

namespace {

constexpr int OrvixRecordLength = 20000; // acquisition points

// One single acquisition, then channel 1 is read as float32 block.
constexpr MeasCommand OrvixAcquire[] = {
    {MeasTarget::Osc, "INIT:CONT OFF;*OPC?\n", true},
    {MeasTarget::Osc, "*TRG;*OPC?\n", true},
    {MeasTarget::Osc, "FORM REAL,32;*OPC?\n", true},
};

constexpr MeasCommand OrvixFreeRun[] = {
    {MeasTarget::Osc, "RUNC;*OPC?\n", false},
    {MeasTarget::Sa, "INIT:CONT ON;*OPC?\n", false},
};

} // namespace

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

const OscType OrvixType{
    "Orvix", 1.0, -0.5, OrvixSteps, Table(OrvixAcquire), false, Table(OrvixFreeRun),
};
