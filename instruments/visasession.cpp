#include "instruments/visasession.h"

#include <QByteArray>

#include <cstdint>

namespace {

// Text replies are read into a zero-filled buffer of this many bytes; the
// read format below matches it, so a reply never overruns it.
constexpr int ReplyBufferSize = 20000;

} // namespace

ViStatus VisaOpenDefaultRM(ViSession &rm)
{
    return viOpenDefaultRM(&rm);
}

ViStatus VisaOpen(ViSession rm, QString resource, ViUInt32 accessMode, ViUInt32 openTimeout, ViSession &vi)
{
    const QByteArray name = resource.toLocal8Bit();
    return viOpen(rm, name.constData(), accessMode, openTimeout, &vi);
}

ViStatus VisaClose(ViSession vi)
{
    return viClose(vi);
}

ViStatus VisaSetAttribute(ViSession vi, ViUInt32 attribute, ViUInt32 value)
{
    return viSetAttribute(vi, attribute, value);
}

ViStatus VisaSetAttributeText(ViSession vi, ViUInt32 attribute, QString value)
{
    const QByteArray text = value.toLocal8Bit();
    return viSetAttribute(vi, attribute, ViAttrState(reinterpret_cast<uintptr_t>(text.constData())));
}

ViStatus VisaFindRsrc(ViSession rm, QString expression, ViSession &list, ViUInt32 &count, QString &found)
{
    const QByteArray expr = expression.toLocal8Bit();
    ViChar desc[VI_FIND_BUFLEN] = {};
    const ViStatus status = viFindRsrc(rm, expr.constData(), &list, &count, desc);
    if (status == VI_SUCCESS)
        found = QString::fromLocal8Bit(desc);
    return status;
}

ViStatus VisaFindNext(ViSession list, QString &found)
{
    ViChar desc[VI_FIND_BUFLEN] = {};
    const ViStatus status = viFindNext(list, desc);
    if (status == VI_SUCCESS)
        found = QString::fromLocal8Bit(desc);
    return status;
}

ViStatus VisaGpibControlREN(ViSession vi, ViUInt16 mode)
{
    return viGpibControlREN(vi, mode);
}

ViStatus VisaQuery(ViSession vi, QString command, QString &reply)
{
    const QByteArray cmd = command.toLocal8Bit();
    QByteArray buffer(ReplyBufferSize, '\0');
    const ViStatus status = viQueryf(vi, cmd.constData(), "%20000c", buffer.data());
    if (status == VI_SUCCESS)
        reply = QString::fromUtf8(buffer.constData(), int(qstrnlen(buffer.constData(), uint(buffer.size()))));
    return status;
}

ViStatus VisaQueryInt(ViSession vi, QString command, ViInt32 &value)
{
    const QByteArray cmd = command.toLocal8Bit();
    return viQueryf(vi, cmd.constData(), "%d", &value);
}

ViStatus VisaQueryReal(ViSession vi, QString command, double &value)
{
    const QByteArray cmd = command.toLocal8Bit();
    return viQueryf(vi, cmd.constData(), "%lf", &value);
}

ViStatus VisaRead(ViSession vi, ViByte *buffer, ViUInt32 count, ViUInt32 &returnCount)
{
    return viRead(vi, buffer, count, &returnCount);
}

ViStatus VisaWrite(ViSession vi, const ViByte *buffer, ViUInt32 count, ViUInt32 *returnCount)
{
    return viWrite(vi, buffer, count, returnCount);
}

ViStatus VisaReadToFile(ViSession vi, QString fileName, ViUInt32 count, ViUInt32 &returnCount)
{
    const QByteArray name = fileName.toLocal8Bit();
    return viReadToFile(vi, name.constData(), count, &returnCount);
}
