// What every simulated instrument shares: splitting program messages,
// IEEE 488.2 common commands, the error queue, latency, injected faults and
// the command log. The three models add their own command sets.
#pragma once

#include "sim/bench.h"
#include "sim/endpoint.h"
#include "sim/scpi.h"

#include <QByteArrayList>
#include <QHash>
#include <QVector>

#include <deque>
#include <functional>
#include <mutex>

namespace benchsim {

class Instrument : public Endpoint {
public:
    Instrument(const QString &name, int latencyMs);

    QString name() const override { return name_; }
    Response handle(const QByteArray &message) override;

    QVector<LogEntry> log() const;
    quint64 logDropped() const;
    void clearLog();
    void setLogListener(std::function<void(const LogEntry &)> listener);
    void addFault(const Fault &fault);
    void clearFaults();

protected:
    // What a message's commands leave behind for the response. The response
    // is bounded by MaxResponseBytes: a unit that would pass it refuses the
    // whole response (the message then gets none, and an error is queued).
    class Context {
    public:
        // Adds one response unit; false, adding nothing, once refused.
        bool add(const QByteArray &unit);
        // The same for a unit that carries its line feed already (a block
        // kept for its acquisition): a response of this unit alone is that
        // very buffer, not a copy.
        bool addTerminated(const QByteArray &unitAndLineFeed);
        // Refuses the response (a unit could not be made).
        void refuse();
        bool refused() const { return refused_; }
        bool hasUnits() const { return !units_.isEmpty(); }
        // The units joined by ";" and ended by a line feed.
        QByteArray message() const;

        int delayMs = 0;      // time until the commands are done
        bool stalled = false; // the commands never complete ("*OPC?" gets no answer)

    private:
        // Whether a unit of this many bytes still fits; false refuses the response.
        bool fits(qint64 unitBytes);
        struct Unit {
            QByteArray bytes;
            bool terminated;
        };
        QVector<Unit> units_;
        qint64 size_ = 0; // of the response so far, separators and terminator included
        bool refused_ = false;
    };

    // A command outside the common set; called with the instrument locked.
    // False: the header is not part of this instrument's command set.
    virtual bool execute(const Command &cmd, Context &ctx) = 0;
    virtual QByteArray identity() const = 0;
    // "*RST": back to power-on settings.
    virtual void reset() = 0;
    // "*TRG". The default instrument has nothing to trigger.
    virtual void trigger(Context &ctx);

    // Adds to a delay in ms, saturating: a message of many "*TRG" with a long
    // acquisition time must not wrap around to no delay at all.
    static int addDelay(int delayMs, int moreMs);
    // SCPI error queue entry, e.g. (-222, "Data out of range").
    void pushError(int code, const char *text);
    // A setting that changes nothing the simulator returns: "HDR value"
    // stores the value, "HDR?" answers it ("0" before it was set).
    void storeOrRecall(const Command &cmd, Context &ctx);

private:
    struct ArmedFault {
        Fault fault;
        int matches = 0;
    };
    bool executeCommon(const Command &cmd, Context &ctx);
    const Fault *matchFault(const QByteArray &message);
    static void applyFault(const Fault &fault, Response &response);
    void appendLog(const LogEntry &entry);

    QString name_;
    int latencyMs_;
    mutable std::mutex mutex_;
    std::deque<QByteArray> errors_;
    QHash<QByteArray, QByteArray> settings_;
    QVector<ArmedFault> faults_;
    std::deque<LogEntry> log_; // the latest LogEntries
    quint64 logDropped_ = 0;
    std::function<void(const LogEntry &)> listener_;
};

} // namespace benchsim
