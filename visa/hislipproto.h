// HiSLIP message codec (IVI-6.1, High-Speed LAN Instrument Protocol): the
// 16-byte message header, the numbers of message types, control codes and
// error codes, and a header reader that takes a stream a piece at a time.
// Shared by the client in visa/ and the server in sim/.
//
// Every message is a header and a payload:
//   "HS" | type (1) | control code (1) | parameter (4) | payload length (8)
// all big-endian. A session is two TCP connections to the same port: the
// synchronous channel carries the instrument's messages (Data, DataEnd,
// Trigger, the device clear's last steps), the asynchronous one everything
// that must overtake them (device clear, status, remote/local, locks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hislip {

constexpr uint16_t DefaultPort = 4880;
constexpr size_t HeaderSize = 16;
// Version 1.0: major in the high byte, minor in the low one. Initialize
// carries it in the parameter's high 16 bits, the client's vendor id in the
// low ones; InitializeResponse the server's version and the session id.
constexpr uint16_t ProtocolVersion = 0x0100;
// A client's first MessageID, after Initialize and after every device
// clear; each Data, DataEnd or Trigger it sends takes the next one (+2,
// wrapping). A response carries the MessageID of the DataEnd it answers.
constexpr uint32_t FirstMessageId = 0xFFFFFF00u;
constexpr uint32_t MessageIdStep = 2;

enum MessageType : uint8_t {
    Initialize = 0,
    InitializeResponse = 1,
    FatalError = 2,
    Error = 3,
    AsyncLock = 4,
    AsyncLockResponse = 5,
    Data = 6,
    DataEnd = 7, // the last message of a program or response message (END)
    DeviceClearComplete = 8,
    DeviceClearAcknowledge = 9,
    AsyncRemoteLocalControl = 10,
    AsyncRemoteLocalResponse = 11,
    Trigger = 12,
    Interrupted = 13,
    AsyncInterrupted = 14,
    AsyncMaximumMessageSize = 15,
    AsyncMaximumMessageSizeResponse = 16,
    AsyncInitialize = 17,
    AsyncInitializeResponse = 18,
    AsyncDeviceClear = 19,
    AsyncServiceRequest = 20,
    AsyncStatusQuery = 21,
    AsyncStatusResponse = 22,
    AsyncDeviceClearAcknowledge = 23,
    AsyncLockInfo = 24,
    AsyncLockInfoResponse = 25,
};
// Types 26 to 127 are reserved (HiSLIP 2.0 uses some), 128 to 255 are
// vendor-specific.
constexpr uint8_t FirstVendorType = 128;

// Control code bit 0 of Data, DataEnd, Trigger and AsyncStatusQuery: the
// client has delivered the whole of the last response (RMT-delivered).
constexpr uint8_t RmtDelivered = 0x01;
// Control code bit 0 of InitializeResponse, AsyncDeviceClearAcknowledge,
// DeviceClearComplete and DeviceClearAcknowledge: overlapped mode (0:
// synchronized), as preferred by the server, asked for by the client after
// a device clear, and granted.
constexpr uint8_t Overlapped = 0x01;

// FatalError control codes; the sender closes both channels after one.
enum FatalErrorCode : uint8_t {
    FatalUnidentified = 0,
    FatalBadHeader = 1,
    FatalNoChannels = 2, // a channel used before both were established
    FatalBadInitialization = 3,
    FatalTooManyClients = 4,
};
// Error control codes; the session goes on.
enum ErrorCode : uint8_t {
    ErrorUnidentified = 0,
    ErrorBadMessageType = 1,
    ErrorBadControlCode = 2,
    ErrorBadVendorMessage = 3,
    ErrorMessageTooLarge = 4,
};

// AsyncRemoteLocalControl control codes (VISA's viGpibControlREN modes 0 to 6).
enum RemoteLocalCode : uint8_t {
    DisableRemote = 0,
    EnableRemote = 1,
    DisableRemoteGoToLocal = 2,
    EnableRemoteGoToRemote = 3,
    EnableRemoteLockOutLocal = 4,
    EnableRemoteGoToRemoteLockOut = 5,
    GoToLocal = 6, // without changing remote enable
};

struct Header {
    uint8_t type = 0;
    uint8_t control = 0;
    uint32_t param = 0;
    uint64_t length = 0; // payload bytes that follow
};

void encodeHeader(const Header &h, uint8_t out[HeaderSize]);
// A whole message: header and payload.
std::vector<uint8_t> encodeMessage(uint8_t type, uint8_t control, uint32_t param, const uint8_t *payload = nullptr,
                                   size_t length = 0);

// AsyncMaximumMessageSize and its response carry one 64-bit size.
constexpr size_t SizePayloadLength = 8;
void encodeU64(uint64_t v, uint8_t out[8]);
uint64_t decodeU64(const uint8_t in[8]);

enum class HeaderStatus {
    Incomplete,
    Ok,
    BadPrologue, // not "HS": the stream is not HiSLIP or out of step
    TooLong,     // a payload longer than the reader's bound
};

// Decodes 16 header bytes. A payload length above maxPayload is TooLong;
// *out is filled in any case but BadPrologue.
HeaderStatus decodeHeader(const uint8_t in[HeaderSize], uint64_t maxPayload, Header *out);

// Collects the next header from stream pieces, so that neither side ever
// waits for more bytes than the header needs and a header split across
// receives is kept. The payload is the owner's: after Ok it reads
// header().length bytes, then calls reset() for the next header.
class HeaderReader {
public:
    explicit HeaderReader(uint64_t maxPayload) : max_(maxPayload) {}

    void setMaxPayload(uint64_t maxPayload) { max_ = maxPayload; }
    uint64_t maxPayload() const { return max_; }

    // Takes bytes from data[0..n) up to the end of the header; returns how
    // many it took (0 once the header is complete).
    size_t feed(const uint8_t *data, size_t n);
    // For receiving the rest of the header straight into the reader:
    // room() gives where and how much, received() how much arrived there.
    uint8_t *room(size_t *len);
    void received(size_t n);

    HeaderStatus status() const { return status_; }
    // Some but not all of the header has arrived.
    bool started() const { return have_ > 0 && status_ == HeaderStatus::Incomplete; }
    const Header &header() const { return header_; }
    void reset();

private:
    void decode();

    uint64_t max_;
    uint8_t raw_[HeaderSize] = {};
    size_t have_ = 0;
    HeaderStatus status_ = HeaderStatus::Incomplete;
    Header header_;
};

// Names for messages and error texts, for logs and status descriptions.
// Never null.
const char *messageTypeName(uint8_t type);
const char *fatalErrorText(uint8_t code);
const char *errorText(uint8_t code);

} // namespace hislip
