// An instrument as the transports see it: program messages in, responses
// out. The raw-socket and VXI-11 servers both drive instruments only
// through this interface, so the instrument models know nothing of framing.
#pragma once

#include <QByteArray>
#include <QString>

namespace benchsim {

// Longest program message a transport collects. A client that never ends
// its message gets it handed over in pieces of this size (the instrument
// flags them as unknown), so it cannot make the simulator hold all it sends.
constexpr int MaxProgramMessage = 1 << 20;

// Longest response an instrument builds for one message: the longest record
// (10 million points, 40 MB as REAL,32) with room to spare. A message whose
// queries would answer more ("CHAN1:DATA?" sixty times) gets no response and
// an error in the queue, instead of gigabytes built in memory.
constexpr qint64 MaxResponseBytes = qint64(64) << 20;

// Connections one listener serves at a time; more are closed as they come.
// A LAN instrument takes a handful; this bounds the threads and buffers
// clients can make the simulator hold.
constexpr int MaxConnections = 64;

// What a transport does with one received program message.
struct Response {
    enum class Action {
        None,        // nothing to send (a command without a query, or a fault that swallows the reply)
        Reply,       // send bytes (the complete response message, terminator included)
        Close,       // drop the connection (injected fault)
        DeviceError, // VXI-11 only: fail the exchange with deviceError; a raw socket sends nothing
    };
    Action action = Action::None;
    QByteArray bytes;
    int delayMs = 0;     // wait before the response is available (latency, acquisition time, late reply)
    int deviceError = 0; // VXI-11 device error code (15 io_timeout, 17 io_error)
};

class Endpoint {
public:
    virtual ~Endpoint() = default;
    // Short name used in logs and scenarios: "osc", "sa" or "va".
    virtual QString name() const = 0;
    // One complete program message, without its terminating line feed.
    // Called from transport threads; implementations serialise internally.
    virtual Response handle(const QByteArray &message) = 0;
};

} // namespace benchsim
