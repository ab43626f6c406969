#include "instruments/blockread.h"

#include <QtEndian>

#include <cstring>

int blockLengthDigits(const char *header, int size)
{
    if (size < 2 || header[0] != '#' || header[1] < '1' || header[1] > '9')
        return 0;
    return header[1] - '0';
}

bool blockByteCount(const char *digits, int size, int n, qint64 *count)
{
    if (n < 1 || n > 9 || size < n)
        return false;
    qint64 value = 0;
    for (int i = 0; i < n; ++i) {
        if (digits[i] < '0' || digits[i] > '9')
            return false;
        value = value * 10 + (digits[i] - '0');
    }
    *count = value;
    return true;
}

QVector<double> decodeFloat32Le(const QByteArray &data, qint64 count)
{
    const int samples = int(qMin<qint64>(count, data.size()) / 4);
    QVector<double> out;
    out.reserve(samples);
    const uchar *p = reinterpret_cast<const uchar *>(data.constData());
    for (int i = 0; i < samples; ++i) {
        const quint32 bits = qFromLittleEndian<quint32>(p + 4 * i);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        out.append(double(f));
    }
    return out;
}
