#include "instruments/setupcommands.h"

SetupTable VaSteps(double threshold)
{
    return {
        {SendWhen::IfReset, "*RST;*OPC?\n", OnFail::GoOn},
        {SendWhen::Always, "SYST:DISP:UPD ON;*OPC?\n", OnFail::End},
        // Threshold in percent of the video level; hysteresis fixed at 5.
        {SendWhen::Always, "CONF:AVDA:TTV:APL:THR " + SetupNumber(threshold) + ";*OPC?\n", OnFail::End},
        {SendWhen::Always, "CONF:AVDA:TTV:APL:HYST 5;*OPC?\n", OnFail::End},
        {SendWhen::Always, "INIT:AVDA;*OPC?\n", OnFail::End},
        {SendWhen::Always, GoToLocal, OnFail::End},
    };
}
