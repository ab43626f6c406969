// The simulated instruments served over VXI-11: a core channel and an abort
// channel on each served address, and optionally a portmapper on port 111 of
// each, as LAN instruments have. The instrument is picked by the address a
// connection arrives on (one instrument per address), or by the device name
// instN among several instruments sharing one address.
#pragma once

#include "sim/endpoint.h"

#include <QString>
#include <QVector>

#include <memory>

namespace benchsim {

class Vxi11Server {
public:
    struct Device {
        QString address; // dotted IPv4 on loopback, e.g. "127.0.0.2"
        Endpoint *endpoint = nullptr;
    };
    struct Options {
        // Largest device_write a client may send; clients split longer
        // messages. Tests make it small to exercise the splitting.
        quint32 maxRecvSize = 1u << 20;
        bool portmapper = true;
        quint16 portmapperPort = 111; // 0: a free port (tests outside a namespace)
    };

    explicit Vxi11Server(const QVector<Device> &devices);
    Vxi11Server(const QVector<Device> &devices, const Options &options);
    ~Vxi11Server();
    Vxi11Server(const Vxi11Server &) = delete;
    Vxi11Server &operator=(const Vxi11Server &) = delete;

    bool start(QString *error = nullptr);
    // Drops every connection (a read in progress sees the connection lost)
    // and joins all threads.
    void stop();

    // One core port and one abort port serve every address.
    quint16 corePort() const;
    quint16 abortPort() const;
    quint16 portmapperPort() const;

    // The resource string of device i: "TCPIP::<address>::INSTR" when the
    // portmapper is on port 111, else the "host,port" form with device instN.
    QString resource(int i) const;

    // Links open right now (freed by destroy_link or when a connection drops).
    int linkCount() const;
    // The largest device_write data block received so far, in bytes.
    quint32 largestWrite() const;

    struct Private; // shared with the channel sessions in vxi11server.cpp

private:
    std::unique_ptr<Private> d;
};

} // namespace benchsim
