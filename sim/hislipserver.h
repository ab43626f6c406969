// The simulated instruments served over HiSLIP (IVI-6.1): one port on
// 127.0.0.1, instrument i behind the sub-address "hislip<i>" (an empty
// sub-address means hislip0). A session is a synchronous and an
// asynchronous connection to that port, joined by the session id that
// InitializeResponse hands out. The server prefers synchronized mode and
// grants overlapped mode when a device clear asks for it.
#pragma once

#include "sim/endpoint.h"

#include <QString>
#include <QVector>

#include <cstdint>
#include <memory>

namespace benchsim {

class HislipServer {
public:
    struct Options {
        // Largest message the server takes, announced in
        // AsyncMaximumMessageSizeResponse; clients split longer program
        // messages. Tests make it small to exercise the splitting.
        uint64_t maxMessageSize = 1u << 20;
    };

    explicit HislipServer(const QVector<Endpoint *> &instruments);
    HislipServer(const QVector<Endpoint *> &instruments, const Options &options);
    ~HislipServer();
    HislipServer(const HislipServer &) = delete;
    HislipServer &operator=(const HislipServer &) = delete;

    // Listens on host:port (0 picks a free port); host is a numeric
    // loopback address.
    bool start(quint16 port = 0, QString *error = nullptr, const QString &host = QStringLiteral("127.0.0.1"));
    // Drops every session and joins all threads.
    void stop();

    quint16 port() const;
    // "TCPIP::<host>::hislip<i>,<port>::INSTR", or without ",<port>" on
    // the standard port 4880; empty for an index with no instrument.
    QString resource(int i) const;

    // Sessions open right now (initialized, not yet ended).
    int sessionCount() const;

    struct Private;

private:
    std::unique_ptr<Private> d;
};

} // namespace benchsim
