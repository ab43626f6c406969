#include "instruments/visastatustext.h"

#include <cstring>

namespace {

QString Seconds(ViUInt32 ms)
{
    return QString::number(double(ms) / 1000.0, 'g', 6);
}

} // namespace

QString InstrumentSaid(ViSession vi, ViStatus status)
{
    if (vi == VI_NULL || status >= 0)
        return QString();
    // viStatusDesc adds the instrument's words to the status's own; without
    // a session it gives the status's words alone.
    ViChar plain[256] = {};
    ViChar said[256] = {};
    if (viStatusDesc(VI_NULL, status, plain) != VI_SUCCESS || viStatusDesc(vi, status, said) != VI_SUCCESS)
        return QString();
    const size_t n = std::strlen(plain);
    if (std::strncmp(plain, said, n) != 0 || std::strncmp(said + n, ": ", 2) != 0)
        return QString();
    return QString::fromUtf8(said + n + 2).trimmed();
}

QString VisaStatusText(ViStatus status, ViUInt32 timeoutMs)
{
    switch (status) {
    case VI_SUCCESS:
        return QStringLiteral("no error");
    case VI_SUCCESS_MAX_CNT:
        return QStringLiteral("reply longer than expected");
    case VI_ERROR_RSRC_NFOUND:
        return QStringLiteral("no such resource");
    case VI_ERROR_MACHINE_NAVAIL:
        return QStringLiteral("connection refused");
    case VI_ERROR_INV_RSRC_NAME:
        return QStringLiteral("unknown resource-string form");
    case VI_ERROR_TMO:
        if (timeoutMs == 0)
            return QStringLiteral("no answer in time");
        return QStringLiteral("no answer within %1 s").arg(Seconds(timeoutMs));
    case VI_ERROR_CONN_LOST:
        return QStringLiteral("connection closed");
    case VI_ERROR_INV_OBJECT:
        return QStringLiteral("no open session");
    case VI_ERROR_IO:
        return QStringLiteral("I/O error");
    case VI_ERROR_ALLOC:
        return QStringLiteral("out of memory");
    case VI_ERROR_FILE_ACCESS:
        return QStringLiteral("file could not be opened");
    case VI_ERROR_FILE_IO:
        return QStringLiteral("file could not be written");
    case VI_ERROR_NSUP_MODE:
    case VI_ERROR_NSUP_OPER:
        return QStringLiteral("not supported by this connection");
    default:
        break;
    }
    return QStringLiteral("VISA status 0x%1").arg(quint32(status), 8, 16, QLatin1Char('0')).toUpper().replace(
        QLatin1String("0X"), QLatin1String("0x"));
}
