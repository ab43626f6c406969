// A HiSLIP client on raw sockets for tests that look at the wire: every
// message goes out and comes back as it is, with nothing done behind the
// test's back (no MessageID filtering, no error handling).
#pragma once

#include "visa/hislipproto.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <cerrno>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

struct HislipMessage {
    bool ok = false; // false: nothing (complete) within the time-out, or the connection closed
    uint8_t type = 0;
    uint8_t control = 0;
    uint32_t param = 0;
    QByteArray payload;
};

class HislipWire {
public:
    HislipWire() = default;
    ~HislipWire() { close(); }
    HislipWire(const HislipWire &) = delete;
    HislipWire &operator=(const HislipWire &) = delete;

    static int connectTo(quint16 port)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
            ::close(fd);
            return -1;
        }
        // Messages go out as they are sent, as from a HiSLIP client.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return fd;
    }

    static bool sendBytes(int fd, const QByteArray &bytes)
    {
        for (qint64 sent = 0; sent < bytes.size();) {
            const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += n;
        }
        return true;
    }

    static QByteArray encode(uint8_t type, uint8_t control, uint32_t param, const QByteArray &payload = {},
                             quint64 length = ~quint64(0))
    {
        uint8_t head[hislip::HeaderSize];
        hislip::encodeHeader({type, control, param, length == ~quint64(0) ? quint64(payload.size()) : length},
                             head);
        return QByteArray(reinterpret_cast<const char *>(head), sizeof head) + payload;
    }

    static bool send(int fd, uint8_t type, uint8_t control, uint32_t param, const QByteArray &payload = {})
    {
        return sendBytes(fd, encode(type, control, param, payload));
    }

    // The next message on fd, whole, within timeoutMs.
    static HislipMessage receive(int fd, int timeoutMs = 3000)
    {
        QElapsedTimer timer;
        timer.start();
        HislipMessage m;
        uint8_t head[hislip::HeaderSize];
        if (!receiveBytes(fd, reinterpret_cast<char *>(head), sizeof head, timer, timeoutMs))
            return m;
        hislip::Header h;
        if (hislip::decodeHeader(head, quint64(64) << 20, &h) != hislip::HeaderStatus::Ok)
            return m;
        m.payload.resize(int(h.length));
        if (!receiveBytes(fd, m.payload.data(), size_t(h.length), timer, timeoutMs))
            return m;
        m.ok = true;
        m.type = h.type;
        m.control = h.control;
        m.param = h.param;
        return m;
    }

    // Whether the server closes fd within timeoutMs (whatever it sends first is read and dropped).
    static bool closedByPeer(int fd, int timeoutMs = 3000)
    {
        QElapsedTimer timer;
        timer.start();
        char buf[65536];
        while (timer.elapsed() < timeoutMs) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
                return true;
        }
        return false;
    }

    // Initialize on a new synchronous channel, AsyncInitialize on a new
    // asynchronous one: the session id, or -1.
    int open(quint16 port, const QByteArray &subAddress = "hislip0")
    {
        close();
        sync = connectTo(port);
        if (sync < 0 || !send(sync, hislip::Initialize, 0, uint32_t(hislip::ProtocolVersion) << 16 | 0x5a5a, subAddress))
            return -1;
        const HislipMessage init = receive(sync);
        if (!init.ok || init.type != hislip::InitializeResponse)
            return -1;
        async = connectTo(port);
        const int id = int(init.param & 0xffff);
        if (async < 0 || !send(async, hislip::AsyncInitialize, 0, uint32_t(id)))
            return -1;
        const HislipMessage asyncInit = receive(async);
        return asyncInit.ok && asyncInit.type == hislip::AsyncInitializeResponse ? id : -1;
    }

    // Our maximum message size to the server; the server's, or 0.
    quint64 setMaxMessageSize(quint64 size)
    {
        uint8_t bytes[8];
        hislip::encodeU64(size, bytes);
        send(async, hislip::AsyncMaximumMessageSize, 0, 0, QByteArray(reinterpret_cast<char *>(bytes), 8));
        const HislipMessage m = receive(async);
        return m.ok && m.type == hislip::AsyncMaximumMessageSizeResponse && m.payload.size() == 8
            ? hislip::decodeU64(reinterpret_cast<const uint8_t *>(m.payload.constData()))
            : 0;
    }

    // A program message as one DataEnd with the next MessageID.
    bool write(const QByteArray &message, uint8_t control = 0)
    {
        lastId = nextId;
        nextId += hislip::MessageIdStep;
        return send(sync, hislip::DataEnd, control, lastId, message);
    }

    // The payloads of Data ... DataEnd joined; *parts counts the messages.
    // Empty when anything else (or nothing) came.
    QByteArray readReply(int *parts = nullptr, uint32_t *id = nullptr, int timeoutMs = 3000)
    {
        QByteArray out;
        for (int n = 1;; ++n) {
            const HislipMessage m = receive(sync, timeoutMs);
            if (!m.ok || (m.type != hislip::Data && m.type != hislip::DataEnd))
                return {};
            out += m.payload;
            if (id)
                *id = m.param;
            if (parts)
                *parts = n;
            if (m.type == hislip::DataEnd)
                return out;
        }
    }

    QByteArray query(const QByteArray &message)
    {
        return write(message) ? readReply() : QByteArray();
    }

    void close()
    {
        for (int *fd : {&sync, &async}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }

    int sync = -1, async = -1;
    uint32_t nextId = hislip::FirstMessageId;
    uint32_t lastId = 0;

private:
    static bool receiveBytes(int fd, char *to, size_t n, const QElapsedTimer &timer, int timeoutMs)
    {
        while (n > 0) {
            const int left = int(timeoutMs - timer.elapsed());
            pollfd p{fd, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, left) <= 0)
                return false;
            const ssize_t got = ::recv(fd, to, n, 0);
            if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
                return false;
            if (got > 0) {
                to += got;
                n -= size_t(got);
            }
        }
        return true;
    }
};
