/* The VISA instrument-I/O interface, as far as this project uses it.
 *
 * Written for this project from the VISA standard's names and values; it is
 * not a vendor header. C-callable. Transports: raw SCPI socket
 * (TCPIP[board]::host::port::SOCKET), VXI-11 (TCPIP[board]::host[::device]::INSTR)
 * and HiSLIP (TCPIP[board]::host::hislipN[,port]::INSTR). viFindRsrc finds LAN
 * instruments by a portmapper broadcast and by mDNS.
 */
#ifndef QUENVIA_VISA_H
#define QUENVIA_VISA_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t ViUInt32;
typedef int32_t ViInt32;
typedef uint16_t ViUInt16;
typedef int16_t ViInt16;
typedef uint64_t ViUInt64;
typedef unsigned char ViByte;
typedef ViByte *ViBuf;
typedef const ViByte *ViConstBuf;
typedef char ViChar;
typedef ViChar *ViString;
typedef const ViChar *ViConstString;
typedef ViString ViRsrc;
typedef ViConstString ViConstRsrc;
typedef ViUInt16 ViBoolean;

typedef ViInt32 ViStatus;
typedef ViUInt32 ViObject;
typedef ViObject ViSession;
typedef ViObject ViFindList;
typedef ViUInt32 ViAccessMode;
typedef ViUInt32 ViAttr;
typedef ViUInt64 ViAttrState;

#define VI_NULL 0
#define VI_TRUE 1
#define VI_FALSE 0

/* Completion codes (positive: success with a qualifier). */
#define VI_SUCCESS ((ViStatus)0)
#define VI_SUCCESS_TERM_CHAR ((ViStatus)0x3FFF0005L)
#define VI_SUCCESS_MAX_CNT ((ViStatus)0x3FFF0006L)

/* Error codes (negative). */
#define VI_ERROR_SYSTEM_ERROR ((ViStatus)0xBFFF0000L)
#define VI_ERROR_INV_OBJECT ((ViStatus)0xBFFF000EL)
#define VI_ERROR_INV_SESSION VI_ERROR_INV_OBJECT
#define VI_ERROR_INV_EXPR ((ViStatus)0xBFFF0010L)
#define VI_ERROR_RSRC_NFOUND ((ViStatus)0xBFFF0011L)
#define VI_ERROR_INV_RSRC_NAME ((ViStatus)0xBFFF0012L)
#define VI_ERROR_TMO ((ViStatus)0xBFFF0015L)
#define VI_ERROR_NSUP_ATTR ((ViStatus)0xBFFF001DL)
#define VI_ERROR_NSUP_ATTR_STATE ((ViStatus)0xBFFF001EL)
#define VI_ERROR_ALLOC ((ViStatus)0xBFFF003CL)
#define VI_ERROR_IO ((ViStatus)0xBFFF003EL)
#define VI_ERROR_INV_FMT ((ViStatus)0xBFFF003FL)
#define VI_ERROR_NSUP_FMT ((ViStatus)0xBFFF0041L)
#define VI_ERROR_NSUP_MODE ((ViStatus)0xBFFF0046L)
#define VI_ERROR_NSUP_OPER ((ViStatus)0xBFFF0067L)
#define VI_ERROR_USER_BUF ((ViStatus)0xBFFF0071L)
#define VI_ERROR_RSRC_BUSY ((ViStatus)0xBFFF0072L) /* the instrument takes no more clients */
#define VI_ERROR_FILE_ACCESS ((ViStatus)0xBFFF00A1L)
#define VI_ERROR_FILE_IO ((ViStatus)0xBFFF00A2L)
#define VI_ERROR_CONN_LOST ((ViStatus)0xBFFF00A6L)
#define VI_ERROR_MACHINE_NAVAIL ((ViStatus)0xBFFF00A7L) /* the host refused the connection */

/* Attributes. */
#define VI_ATTR_TMO_VALUE ((ViAttr)0x3FFF001AUL) /* I/O time-out in ms, default 2000 */
#define VI_TMO_IMMEDIATE 0UL
#define VI_TMO_INFINITE 0xFFFFFFFFUL

/* Finding LAN instruments. viFindRsrc on a resource-manager session sends
 * its queries on every IPv4 interface and to the hosts of
 * VI_ATTR_FIND_HOSTS, and returns when the session's VI_ATTR_TMO_VALUE
 * (at most 60000 ms) has passed: answers can come until then. */
#define VI_FIND_BUFLEN 256
/* This library's own attribute (not in the VISA standard), of a resource-
 * manager session: hosts and subnets that viFindRsrc also asks directly, as
 * text ("10.0.0.5 lab-scope 192.168.7.0/24": names, dotted IPv4 addresses
 * and a.b.c.d/n subnets of at most 4096 addresses, blank- or comma-
 * separated, at most VI_FIND_BUFLEN - 1 characters). viSetAttribute takes a
 * pointer to the text (copied; VI_NULL for none) and refuses a text it
 * cannot read with VI_ERROR_NSUP_ATTR_STATE; viGetAttribute copies it into
 * a buffer of VI_FIND_BUFLEN characters. */
#define VI_ATTR_FIND_HOSTS ((ViAttr)0x3FFF7E01UL)

/* viGpibControlREN modes. */
#define VI_GPIB_REN_ADDRESS_GTL 6

ViStatus viOpenDefaultRM(ViSession *vi);
ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout, ViSession *vi);
ViStatus viClose(ViObject vi);
ViStatus viFindRsrc(ViSession sesn, ViConstString expr, ViFindList *vi, ViUInt32 *retCnt, ViChar desc[]);
ViStatus viFindNext(ViFindList vi, ViChar desc[]);
ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue);
ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void *attrValue);
ViStatus viGpibControlREN(ViSession vi, ViUInt16 mode);
ViStatus viQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ...);
ViStatus viRead(ViSession vi, ViBuf buf, ViUInt32 cnt, ViUInt32 *retCnt);
ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViUInt32 *retCnt);
ViStatus viReadToFile(ViSession vi, ViConstString filename, ViUInt32 cnt, ViUInt32 *retCnt);
ViStatus viClear(ViSession vi);
ViStatus viReadSTB(ViSession vi, ViUInt16 *status);
/* desc: at least 256 bytes. For the last failure of an instrument session,
 * what the instrument said about it is included. */
ViStatus viStatusDesc(ViObject vi, ViStatus status, ViChar desc[]);

#ifdef __cplusplus
}
#endif

#endif
