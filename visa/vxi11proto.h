// Numbers of the VXI-11 LAN instrument protocol (ONC RPC programs, procedure
// numbers, flags, read reasons, device errors) and of the portmapper that
// announces its ports. Shared by the client in visa/ and the server in sim/.
#pragma once

#include <cstdint>

namespace vxi11 {

// Core channel: one TCP connection carries every link's calls.
constexpr uint32_t CoreProgram = 0x0607AF;
constexpr uint32_t CoreVersion = 1;
// Abort channel: a second TCP connection so an abort can overtake a pending call.
constexpr uint32_t AbortProgram = 0x0607B0;
constexpr uint32_t AbortVersion = 1;

enum CoreProc : uint32_t {
    CreateLink = 10,
    DeviceWrite = 11,
    DeviceRead = 12,
    DeviceReadStb = 13,
    DeviceTrigger = 14,
    DeviceClear = 15,
    DeviceRemote = 16,
    DeviceLocal = 17,
    DeviceLock = 18,
    DeviceUnlock = 19,
    DeviceEnableSrq = 20,
    DeviceDoCmd = 22,
    DestroyLink = 23,
    CreateIntrChan = 25,
    DestroyIntrChan = 26,
};
constexpr uint32_t DeviceAbort = 1; // abort channel

// Operation flags (Device_Flags).
constexpr uint32_t FlagWaitLock = 1;
constexpr uint32_t FlagEnd = 8;       // device_write: the last byte ends the message
constexpr uint32_t FlagTermChrSet = 128; // device_read: stop on termChar

// device_read reasons (bit set).
constexpr uint32_t ReasonReqCnt = 1; // requestSize reached
constexpr uint32_t ReasonChr = 2;    // termination character seen
constexpr uint32_t ReasonEnd = 4;    // the message ended

enum DeviceError : uint32_t {
    ErrNone = 0,
    ErrSyntax = 1,
    ErrNotAccessible = 3,
    ErrInvalidLink = 4,
    ErrParameter = 5,
    ErrChannelNotEstablished = 6,
    ErrNotSupported = 8,
    ErrOutOfResources = 9,
    ErrLocked = 11,
    ErrIoTimeout = 15,
    ErrIoError = 17,
    ErrAbort = 23,
};

// The smallest maxRecvSize a device may announce.
constexpr uint32_t MinMaxRecvSize = 1024;

} // namespace vxi11

namespace portmap {

constexpr uint16_t Port = 111;
constexpr uint32_t Program = 100000;
constexpr uint32_t Version2 = 2; // portmapper: GETPORT/DUMP with numeric ports
constexpr uint32_t Version3 = 3; // rpcbind: GETADDR with universal addresses
constexpr uint32_t Version4 = 4;

enum Proc : uint32_t {
    Null = 0,
    Set = 1,
    Unset = 2,
    GetPort = 3, // v2; the same number is GETADDR in v3 and v4
    Dump = 4,
};
constexpr uint32_t GetAddr = 3;
constexpr uint32_t GetVersAddr = 9; // v4 only

constexpr uint32_t ProtoTcp = 6;
constexpr uint32_t ProtoUdp = 17;

} // namespace portmap
