#include "instruments/setupcommands.h"

SetupTable OsCheckSteps()
{
    return {
        {SendWhen::Always, "SYST:ERR?\n", OnFail::End},
        {SendWhen::IfReset, "*RST;*OPC?\n", OnFail::GoOn},
    };
}
