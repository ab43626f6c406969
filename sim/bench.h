// The simulated bench: an oscilloscope, a spectrum analyzer and a video
// analyzer with known delays, served over raw SCPI sockets on 127.0.0.1,
// and on request over VXI-11 and HiSLIP as well.
//
// Thread-safe: the servers run on their own threads while the code under
// test runs on the caller's thread. Logs, truths and faults may be used at
// any time; start() and stop() belong to the thread that owns the bench.
#pragma once

#include "sim/endpoint.h"
#include "sim/scenario.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVector>

#include <functional>
#include <limits>
#include <memory>

namespace benchsim {

// One entry per received program message (a whole line as sent, e.g.
// "CHAN1 ON;STOP;*OPC?", without the line feed), in arrival order. The
// VXI-11 interface calls that carry no message are logged under these
// texts, which no SCPI header can take ("&" is not a header character).
constexpr char GoToLocalCommand[] = "&GTL";  // device_local
constexpr char GoToRemoteCommand[] = "&REN"; // device_remote

// Replies are kept up to this many bytes: a demo reading 80 kB blocks for
// hours would otherwise hold every block it ever sent.
constexpr int LogReplyBytes = 256;
// Program messages likewise: every message the application sends is far
// shorter, but a client may send a megabyte per message.
constexpr int LogCommandBytes = 1024;
// Each instrument keeps its latest this many entries (at most about 1.3 kB
// each), counting the ones it let go: hours of a demo or a flood of
// messages must not grow the log without end. The --log file gets them all.
constexpr int LogEntries = 10000;

struct LogEntry {
    QString instrument;  // "osc", "sa" or "va"
    QByteArray command;  // the first LogCommandBytes bytes of the program message as received
    int commandSize = 0; // size of the whole message
    QByteArray reply;    // the first LogReplyBytes bytes sent back (terminator included); empty when none
    int replySize = 0;   // size of the whole reply
    bool unknown = false; // at least one command of the message was not understood
    QString fault;       // name of the fault kind applied, empty when none
    quint64 sequence = 0; // arrival order across all instruments
};

// The bench keeps the truths of this many latest acquisitions: one message
// can hold a hundred thousand "*TRG".
constexpr int KeptTruths = 100000;

// Ground truth of one oscilloscope acquisition ("*TRG"). Edge indices are the
// first samples at or after the true edge time; -1 when the edge lies outside
// the record.
struct Truth {
    int index = 0;         // 0-based acquisition number
    bool accepted = true;  // first channel-1 sample inside -0.05..0.3 V
    double src2RfMs = 0;   // delays played, after jitter
    double src2SnkMs = 0;
    int points = 0;        // oscilloscope record length
    double timePerSample = 0; // seconds between oscilloscope samples
    int srcIndex = -1;     // channel 1 step (trigger instant)
    int rfIndex = -1;      // channel 3 burst start
    int snkIndex = -1;     // channel 2 step
    // The analyzer trace read for this acquisition ("TRAC? TRACE1, n");
    // saPoints 0 until it is read.
    int saPoints = 0;
    double saTimePerSample = 0;
    int saRfIndex = -1;
    // Noise-free times (s from the trigger) at which the traces cross the
    // levels of the application's edge rules as it applies them to this
    // acquisition's samples: the source 35 mV above its first sample, the RF
    // envelope 0.05 on its 0 .. 0.2 scale (from the trace's own minimum and
    // maximum), the sink 60 mV. With ideal steps, the edge times themselves.
    // NaN until known: the RF ones once that trace has been read.
    double srcCrossS = std::numeric_limits<double>::quiet_NaN();
    double rfCrossS = std::numeric_limits<double>::quiet_NaN();
    double snkCrossS = std::numeric_limits<double>::quiet_NaN();
    double saRfCrossS = std::numeric_limits<double>::quiet_NaN();
};

class Bench {
public:
    explicit Bench(const Scenario &scenario);
    ~Bench();
    Bench(const Bench &) = delete;
    Bench &operator=(const Bench &) = delete;

    // Opens the three raw-socket servers. False with *error on failure.
    bool start(QString *error = nullptr);
    // Closes the servers and every connection; joins all threads.
    void stop();

    // Also serves the three instruments over VXI-11 (after start()). With
    // the portmapper: osc, sa, va on 127.0.0.1, .2, .3, portmapper on port
    // 111 of each (needs privileges: a private network namespace in tests).
    // Without: all on 127.0.0.1, reached as "host,port" with inst0/1/2.
    bool startVxi11(QString *error = nullptr, bool withPortmapper = true);
    // "TCPIP::127.0.0.2::INSTR" or "TCPIP::127.0.0.1,<port>::inst1::INSTR";
    // empty when VXI-11 is not served.
    QString vxi11Resource(const QString &instrument) const;

    // Also serves the three instruments over HiSLIP (after start()): one
    // port on 127.0.0.1 (0: a free port), osc, sa, va behind hislip0, 1, 2.
    // perAddress: each instrument as hislip0 on an address of its own,
    // 127.0.0.1, .2 and .3 (as VXI-11 with its portmapper serves them),
    // the same port on each, so that one mDNS record per address names it.
    bool startHislip(QString *error = nullptr, quint16 port = 0, bool perAddress = false);
    // "TCPIP::127.0.0.1::hislip1,<port>::INSTR" (per address
    // "TCPIP::127.0.0.2::hislip0,<port>::INSTR"); empty when HiSLIP is not
    // served.
    QString hislipResource(const QString &instrument) const;

    // "TCPIP::127.0.0.1::<port>::SOCKET" for "osc", "sa" or "va"; empty
    // before start() or for an unknown name.
    QString resource(const QString &instrument) const;
    quint16 port(const QString &instrument) const;

    QVector<LogEntry> log(const QString &instrument) const;
    // All three instruments' entries in arrival order, so a test can check
    // the order of exchanges between instruments as well.
    QVector<LogEntry> log() const;
    QList<QByteArray> commands(const QString &instrument) const;
    // Entries the instrument let go of to stay within LogEntries.
    quint64 logDropped(const QString &instrument) const;
    void clearLog();
    // Called for every log entry as it is made, on a server thread.
    void setLogListener(std::function<void(const LogEntry &)> listener);

    // The latest KeptTruths acquisitions, oldest first.
    QVector<Truth> truths() const;

    void addFault(const Fault &fault);
    void clearFaults();

    // The transport-independent instrument models, for other transports
    // (VXI-11, HiSLIP) serving the same instruments. Null for an unknown name.
    Endpoint *endpoint(const QString &instrument);

    const Scenario &scenario() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace benchsim
