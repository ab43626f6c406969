#include "measurement/tracefileformat.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

QByteArray EncodeTrace(const QVector<double> &d, int count)
{
    const int n = std::max(0, std::min(count, d.size()));
    QByteArray out(n * 8, Qt::Uninitialized);
    for (int i = 0; i < n; ++i) {
        quint64 bits;
        std::memcpy(&bits, &d[i], 8);
        qToLittleEndian(bits, out.data() + 8 * i);
    }
    return out;
}

QVector<double> DecodeTrace(const QByteArray &bytes)
{
    const int n = bytes.size() / 8;
    QVector<double> out(n);
    for (int i = 0; i < n; ++i) {
        const quint64 bits = qFromLittleEndian<quint64>(bytes.constData() + 8 * i);
        std::memcpy(&out[i], &bits, 8);
    }
    return out;
}
