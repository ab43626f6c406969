// The only code that calls the VISA library: one thin function per VISA
// operation. Text arguments are Qt strings, converted to the local 8-bit
// encoding; every function returns the VISA status unchanged.
#pragma once

#include "shared/visatypes.h"

#include <QString>

ViStatus VisaOpenDefaultRM(ViSession &rm);
ViStatus VisaOpen(ViSession rm, QString resource, ViUInt32 accessMode, ViUInt32 openTimeout, ViSession &vi);
ViStatus VisaClose(ViSession vi);
ViStatus VisaSetAttribute(ViSession vi, ViUInt32 attribute, ViUInt32 value);
// For an attribute whose value is text (VI_ATTR_FIND_HOSTS).
ViStatus VisaSetAttributeText(ViSession vi, ViUInt32 attribute, QString value);
// found gets the first matching resource, and the next one from
// VisaFindNext, when the status is VI_SUCCESS; list is closed by VisaClose.
ViStatus VisaFindRsrc(ViSession rm, QString expression, ViSession &list, ViUInt32 &count, QString &found);
ViStatus VisaFindNext(ViSession list, QString &found);
ViStatus VisaGpibControlREN(ViSession vi, ViUInt16 mode);
// reply is replaced only when the status is exactly VI_SUCCESS.
ViStatus VisaQuery(ViSession vi, QString command, QString &reply);
ViStatus VisaQueryInt(ViSession vi, QString command, ViInt32 &value);
ViStatus VisaQueryReal(ViSession vi, QString command, double &value);
ViStatus VisaRead(ViSession vi, ViByte *buffer, ViUInt32 count, ViUInt32 &returnCount);
ViStatus VisaWrite(ViSession vi, const ViByte *buffer, ViUInt32 count, ViUInt32 *returnCount);
ViStatus VisaReadToFile(ViSession vi, QString fileName, ViUInt32 count, ViUInt32 &returnCount);
