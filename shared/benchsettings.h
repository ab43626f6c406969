// The operator's choices that the settings file keeps, as plain values: what
// the window shows, what the command line reads, what a run record notes.
#pragma once

#include <QString>

// The resource strings a new installation starts with: the window's fields
// show them and the settings file falls back to them.
inline constexpr const char *DefaultOsIp = "TCPIP::127.0.0.1::INSTR";
inline constexpr const char *DefaultSaIp = "TCPIP::127.0.0.2::INSTR";
inline constexpr const char *DefaultVaIp = "TCPIP::127.0.0.3::INSTR";

// Every member starts at the value a missing settings key gives.
struct BenchSettings
{
    QString osIp = QString::fromLatin1(DefaultOsIp);
    bool osReset = false;
    int osType = 1; // 0 Orvix, any other value Benlo (-1: none selected)
    double trgLevel = 0.027; // V
    QString saIp = QString::fromLatin1(DefaultSaIp);
    bool saReset = false;
    double centerFreq = 5.192e9; // Hz
    bool ifDemod = false;
    QString vaIp = QString::fromLatin1(DefaultVaIp);
    bool vaReset = false;
    double threshold = 35.0; // %
    bool hdmi = false;
    bool saveData = false;
};
