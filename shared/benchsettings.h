// The operator's choices that the settings file keeps, as plain values: what
// the window shows, what the command line reads, what a run record notes.
#pragma once

#include <QString>

struct BenchSettings
{
    QString osIp;
    bool osReset = false;
    int osType = 1; // 0 Orvix, any other value Benlo (-1: none selected)
    double trgLevel = 0.027; // V
    QString saIp;
    bool saReset = false;
    double centerFreq = 5.192e9; // Hz
    bool ifDemod = false;
    QString vaIp;
    bool vaReset = false;
    double threshold = 35.0; // %
    bool hdmi = false;
    bool saveData = false;
};
