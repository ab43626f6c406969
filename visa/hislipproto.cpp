#include "visa/hislipproto.h"

#include <algorithm>
#include <cstring>

namespace hislip {

namespace {

void putBigEndian(uint64_t v, size_t bytes, uint8_t *out)
{
    for (size_t i = 0; i < bytes; ++i)
        out[i] = uint8_t(v >> (8 * (bytes - 1 - i)));
}

uint64_t getBigEndian(const uint8_t *in, size_t bytes)
{
    uint64_t v = 0;
    for (size_t i = 0; i < bytes; ++i)
        v = v << 8 | in[i];
    return v;
}

const char *const TypeNames[] = {
    "Initialize",
    "InitializeResponse",
    "FatalError",
    "Error",
    "AsyncLock",
    "AsyncLockResponse",
    "Data",
    "DataEnd",
    "DeviceClearComplete",
    "DeviceClearAcknowledge",
    "AsyncRemoteLocalControl",
    "AsyncRemoteLocalResponse",
    "Trigger",
    "Interrupted",
    "AsyncInterrupted",
    "AsyncMaximumMessageSize",
    "AsyncMaximumMessageSizeResponse",
    "AsyncInitialize",
    "AsyncInitializeResponse",
    "AsyncDeviceClear",
    "AsyncServiceRequest",
    "AsyncStatusQuery",
    "AsyncStatusResponse",
    "AsyncDeviceClearAcknowledge",
    "AsyncLockInfo",
    "AsyncLockInfoResponse",
};

const char *const FatalErrorTexts[] = {
    "unidentified error",
    "poorly formed message header",
    "connection used before both channels were established",
    "invalid initialization sequence",
    "server refused the connection: too many clients",
};

const char *const ErrorTexts[] = {
    "unidentified error",
    "unrecognized message type",
    "unrecognized control code",
    "unrecognized vendor-defined message",
    "message too large",
};

} // namespace

void encodeHeader(const Header &h, uint8_t out[HeaderSize])
{
    out[0] = 'H';
    out[1] = 'S';
    out[2] = h.type;
    out[3] = h.control;
    putBigEndian(h.param, 4, out + 4);
    putBigEndian(h.length, 8, out + 8);
}

std::vector<uint8_t> encodeMessage(uint8_t type, uint8_t control, uint32_t param, const uint8_t *payload,
                                   size_t length)
{
    std::vector<uint8_t> msg(HeaderSize + length);
    encodeHeader(Header{type, control, param, length}, msg.data());
    if (length > 0)
        std::memcpy(msg.data() + HeaderSize, payload, length);
    return msg;
}

void encodeU64(uint64_t v, uint8_t out[8]) { putBigEndian(v, 8, out); }

uint64_t decodeU64(const uint8_t in[8]) { return getBigEndian(in, 8); }

HeaderStatus decodeHeader(const uint8_t in[HeaderSize], uint64_t maxPayload, Header *out)
{
    if (in[0] != 'H' || in[1] != 'S')
        return HeaderStatus::BadPrologue;
    out->type = in[2];
    out->control = in[3];
    out->param = uint32_t(getBigEndian(in + 4, 4));
    out->length = getBigEndian(in + 8, 8);
    return out->length > maxPayload ? HeaderStatus::TooLong : HeaderStatus::Ok;
}

size_t HeaderReader::feed(const uint8_t *data, size_t n)
{
    if (status_ != HeaderStatus::Incomplete)
        return 0;
    const size_t take = std::min(n, HeaderSize - have_);
    std::memcpy(raw_ + have_, data, take);
    received(take);
    return take;
}

uint8_t *HeaderReader::room(size_t *len)
{
    *len = status_ == HeaderStatus::Incomplete ? HeaderSize - have_ : 0;
    return raw_ + have_;
}

void HeaderReader::received(size_t n)
{
    have_ += std::min(n, HeaderSize - have_);
    // The prologue is judged as soon as it is in: a peer that is not
    // speaking HiSLIP is told apart without waiting for 14 more bytes.
    if (have_ >= 1 && raw_[0] != 'H')
        status_ = HeaderStatus::BadPrologue;
    else if (have_ >= 2 && raw_[1] != 'S')
        status_ = HeaderStatus::BadPrologue;
    else if (have_ == HeaderSize)
        status_ = decodeHeader(raw_, max_, &header_);
}

void HeaderReader::reset()
{
    have_ = 0;
    status_ = HeaderStatus::Incomplete;
    header_ = Header{};
}

const char *messageTypeName(uint8_t type)
{
    if (type < sizeof TypeNames / sizeof TypeNames[0])
        return TypeNames[type];
    return type >= FirstVendorType ? "vendor-specific" : "reserved";
}

const char *fatalErrorText(uint8_t code)
{
    return code < sizeof FatalErrorTexts / sizeof FatalErrorTexts[0] ? FatalErrorTexts[code] : "unknown fatal error";
}

const char *errorText(uint8_t code)
{
    return code < sizeof ErrorTexts / sizeof ErrorTexts[0] ? ErrorTexts[code] : "unknown error";
}

} // namespace hislip
