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
