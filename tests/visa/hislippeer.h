// HiSLIP messages for scripted servers (scriptedserver.h): reading and
// sending them on a peer, and the opening a server plays before its script.
#pragma once

#include "tests/visa/scriptedserver.h"
#include "visa/hislipproto.h"

#include <memory>
#include <string>

struct HislipMessage {
    bool ok = false; // false: the client closed, or nothing whole came in time
    hislip::Header header;
    std::string payload;
};

inline HislipMessage readHislip(ScriptedPeer &peer, int timeoutMs = 5000)
{
    HislipMessage m;
    const std::string head = peer.readBytes(hislip::HeaderSize, timeoutMs);
    if (head.size() != hislip::HeaderSize
        || hislip::decodeHeader(reinterpret_cast<const uint8_t *>(head.data()), 1 << 24, &m.header)
            != hislip::HeaderStatus::Ok)
        return m;
    m.payload = peer.readBytes(size_t(m.header.length), timeoutMs);
    m.ok = m.payload.size() == m.header.length;
    return m;
}

inline std::string hislipBytes(uint8_t type, uint8_t control, uint32_t param, const std::string &payload = {})
{
    const std::vector<uint8_t> m =
        hislip::encodeMessage(type, control, param, reinterpret_cast<const uint8_t *>(payload.data()), payload.size());
    return std::string(m.begin(), m.end());
}

inline bool sendHislip(ScriptedPeer &peer, uint8_t type, uint8_t control, uint32_t param,
                       const std::string &payload = {})
{
    return peer.send(hislipBytes(type, control, param, payload));
}

// The asynchronous channel of a scripted session; closed with it.
struct HislipAsyncChannel {
    explicit HislipAsyncChannel(int fd) : peer(fd) {}
    ~HislipAsyncChannel()
    {
        if (peer.fd() >= 0)
            ::close(peer.fd());
    }
    ScriptedPeer peer;
};

// The server's side of the opening: Initialize on the synchronous channel,
// then the asynchronous channel's AsyncInitialize and
// AsyncMaximumMessageSize (answered with maxMessage). Null if the client
// did not play its part.
inline std::unique_ptr<HislipAsyncChannel> acceptHislipSession(ScriptedServer &server, ScriptedPeer &sync,
                                                               uint64_t maxMessage = 1 << 20)
{
    const HislipMessage init = readHislip(sync);
    if (!init.ok || init.header.type != hislip::Initialize)
        return nullptr;
    sendHislip(sync, hislip::InitializeResponse, 0, uint32_t(hislip::ProtocolVersion) << 16 | 1);
    auto async = std::make_unique<HislipAsyncChannel>(server.acceptNext());
    if (async->peer.fd() < 0)
        return nullptr;
    const HislipMessage asyncInit = readHislip(async->peer);
    if (!asyncInit.ok || asyncInit.header.type != hislip::AsyncInitialize)
        return nullptr;
    sendHislip(async->peer, hislip::AsyncInitializeResponse, 0, 0x5858);
    const HislipMessage size = readHislip(async->peer);
    if (!size.ok || size.header.type != hislip::AsyncMaximumMessageSize)
        return nullptr;
    uint8_t theirs[hislip::SizePayloadLength];
    hislip::encodeU64(maxMessage, theirs);
    sendHislip(async->peer, hislip::AsyncMaximumMessageSizeResponse, 0, 0,
               std::string(reinterpret_cast<char *>(theirs), sizeof theirs));
    return async;
}

inline QString hislipResource(const ScriptedServer &server)
{
    return QStringLiteral("TCPIP::127.0.0.1::hislip0,%1::INSTR").arg(server.port());
}
