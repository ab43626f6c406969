// The peak resident memory of this process (VmHWM), and a way to start
// measuring it afresh, for checks that a hostile peer cannot make a call
// hold much memory. Linux only; resetPeak() is false where the kernel does
// not allow it.
#pragma once

#include <QFile>

inline bool resetPeakResidentMemory()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

// In KiB; -1 if unknown.
inline qint64 peakResidentMemoryKib()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}
