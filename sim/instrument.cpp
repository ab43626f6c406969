#include "sim/instrument.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <new>

namespace benchsim {

namespace {
// A real instrument's queue holds a handful of entries; the last slot then
// reports the overflow.
constexpr int ErrorQueueSize = 10;
const char GarbageReply[] = "?garbage?\n";
// Count that announces about 1 GB of data.
const char HugeCount[] = "999999999";
// Shared by every instrument: a client waits for each answer before it sends
// the next message, so this orders the exchanges across instruments.
std::atomic<quint64> nextSequence{1};
} // namespace

Instrument::Instrument(const QString &name, int latencyMs) : name_(name), latencyMs_(latencyMs) {}

bool Instrument::Context::fits(qint64 unitBytes)
{
    // Each unit brings one byte more: the ";" before the next or the final line feed.
    if (!refused_ && size_ + unitBytes + 1 <= MaxResponseBytes)
        return true;
    refuse();
    return false;
}

void Instrument::Context::refuse()
{
    refused_ = true;
    units_.clear();
    size_ = 0;
}

bool Instrument::Context::add(const QByteArray &unit)
{
    if (!fits(unit.size()))
        return false;
    units_.append({unit, false});
    size_ += unit.size() + 1;
    return true;
}

bool Instrument::Context::addTerminated(const QByteArray &unitAndLineFeed)
{
    if (!fits(unitAndLineFeed.size() - 1))
        return false;
    units_.append({unitAndLineFeed, true});
    size_ += unitAndLineFeed.size();
    return true;
}

QByteArray Instrument::Context::message() const
{
    if (units_.size() == 1 && units_[0].terminated)
        return units_[0].bytes;
    QByteArray out;
    out.reserve(int(size_));
    for (const Unit &u : units_) {
        out.append(u.bytes.constData(), u.bytes.size() - (u.terminated ? 1 : 0));
        out.append(';');
    }
    if (!out.isEmpty())
        out[out.size() - 1] = '\n';
    return out;
}

void Instrument::trigger(Context &) {}

int Instrument::addDelay(int delayMs, int moreMs)
{
    return int(std::min<qint64>(qint64(delayMs) + moreMs, std::numeric_limits<int>::max()));
}

void Instrument::pushError(int code, const char *text)
{
    if (int(errors_.size()) >= ErrorQueueSize)
        return;
    if (int(errors_.size()) == ErrorQueueSize - 1) {
        errors_.push_back("-350,\"Queue overflow\"");
        return;
    }
    errors_.push_back(QByteArray::number(code) + ",\"" + text + '"');
}

void Instrument::storeOrRecall(const Command &cmd, Context &ctx)
{
    if (cmd.query) {
        ctx.add(settings_.value(cmd.header.chopped(1), "0"));
    } else {
        settings_.insert(cmd.header, cmd.args);
    }
}

bool Instrument::executeCommon(const Command &cmd, Context &ctx)
{
    const QByteArray &h = cmd.header;
    if (h == "*IDN?") {
        ctx.add(identity());
    } else if (h == "*OPC?") {
        ctx.add("1");
    } else if (h == "*OPC" || h == "*WAI") {
        // Commands run one after the other here, so both are already satisfied.
    } else if (h == "*RST") {
        settings_.clear();
        reset();
    } else if (h == "*CLS") {
        errors_.clear();
    } else if (h == "*TRG") {
        trigger(ctx);
    } else if (h == GoToLocalCommand || h == GoToRemoteCommand) {
        // A VXI-11 link's device_local/device_remote, logged; no front panel to lock.
    } else if (h == "*ESR?" || h == "*STB?") {
        ctx.add("0");
    } else if (h == "SYST:ERR?" || h == "SYST:ERR:NEXT?") {
        if (errors_.empty()) {
            ctx.add("0,\"No error\"");
        } else {
            ctx.add(errors_.front());
            errors_.pop_front();
        }
    } else {
        return false;
    }
    return true;
}

Response Instrument::handle(const QByteArray &message)
{
    std::function<void(const LogEntry &)> listener;
    LogEntry entry;
    Response response;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        bool unknown = false;
        try {
            Context ctx;
            bool refusalQueued = false;
            CommandReader reader(message);
            for (Command cmd; reader.next(&cmd);) {
                if (!executeCommon(cmd, ctx) && !execute(cmd, ctx)) {
                    unknown = true;
                    pushError(-113, "Undefined header");
                }
                if (ctx.refused() && !refusalQueued) {
                    pushError(-225, "Out of memory;response too long");
                    refusalQueued = true;
                }
            }
            if (ctx.hasUnits() && !ctx.stalled) {
                response.action = Response::Action::Reply;
                response.bytes = ctx.message();
            }
            response.delayMs = addDelay(latencyMs_, ctx.delayMs);
        } catch (const std::bad_alloc &) {
            // This message is refused; the instrument and its other clients go on.
            response = Response();
            response.delayMs = latencyMs_;
            pushError(-225, "Out of memory");
        }

        entry.instrument = name_;
        entry.command = message.left(LogCommandBytes);
        entry.commandSize = message.size();
        entry.unknown = unknown;
        entry.sequence = nextSequence++;
        if (const Fault *fault = matchFault(message)) {
            applyFault(*fault, response);
            entry.fault = Fault::kindName(fault->kind);
        }
        if (response.action == Response::Action::Reply) {
            entry.reply = response.bytes.left(LogReplyBytes);
            entry.replySize = response.bytes.size();
        }
        appendLog(entry);
        listener = listener_;
    }
    if (listener)
        listener(entry);
    return response;
}

void Instrument::appendLog(const LogEntry &entry)
{
    if (int(log_.size()) >= LogEntries) {
        log_.pop_front();
        ++logDropped_;
    }
    log_.push_back(entry);
}

const Fault *Instrument::matchFault(const QByteArray &message)
{
    const Fault *hit = nullptr;
    for (ArmedFault &armed : faults_) {
        if (!message.contains(armed.fault.pattern))
            continue;
        ++armed.matches;
        if (!hit && (armed.fault.occurrence == 0 || armed.fault.occurrence == armed.matches))
            hit = &armed.fault;
    }
    return hit;
}

void Instrument::applyFault(const Fault &fault, Response &response)
{
    // Only the block faults take the data apart: a 40 MB reply is not copied for the others.
    const auto payload = [&response] { return blockPayload(response.bytes); };
    auto reply = [&response](const QByteArray &bytes) {
        response.action = Response::Action::Reply;
        response.bytes = bytes;
    };
    switch (fault.kind) {
    case Fault::Kind::NoReply:
        response.action = Response::Action::None;
        response.bytes.clear();
        break;
    case Fault::Kind::Close:
        response.action = Response::Action::Close;
        response.bytes.clear();
        break;
    case Fault::Kind::Late:
        response.delayMs = addDelay(response.delayMs, fault.delayMs);
        break;
    case Fault::Kind::Garbage:
        reply(GarbageReply);
        break;
    case Fault::Kind::BlockDigit0:
        reply("#0" + payload() + '\n');
        break;
    case Fault::Kind::BlockNonDigit: {
        const QByteArray data = payload();
        reply("#x" + QByteArray::number(data.size()) + data + '\n');
        break;
    }
    case Fault::Kind::BlockShortLength: {
        // One length digit more announced than follow; no data.
        const QByteArray count = QByteArray::number(payload().size());
        reply("#" + QByteArray::number(count.size() + 1) + count + '\n');
        break;
    }
    case Fault::Kind::BlockShortData: {
        const QByteArray data = payload();
        const QByteArray count = QByteArray::number(data.size());
        reply("#" + QByteArray::number(count.size()) + count + data.left(data.size() / 2) + '\n');
        break;
    }
    case Fault::Kind::BlockHugeCount:
        reply(QByteArray("#9") + HugeCount + payload() + '\n');
        break;
    case Fault::Kind::DeviceIoTimeout:
    case Fault::Kind::DeviceIoError:
        response.action = Response::Action::DeviceError;
        response.bytes.clear();
        response.deviceError = fault.kind == Fault::Kind::DeviceIoTimeout ? 15 : 17;
        break;
    }
}

QVector<LogEntry> Instrument::log() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    QVector<LogEntry> out;
    out.reserve(int(log_.size()));
    for (const LogEntry &e : log_)
        out.append(e);
    return out;
}

quint64 Instrument::logDropped() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return logDropped_;
}

void Instrument::clearLog()
{
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
    logDropped_ = 0;
}

void Instrument::setLogListener(std::function<void(const LogEntry &)> listener)
{
    std::lock_guard<std::mutex> lock(mutex_);
    listener_ = std::move(listener);
}

void Instrument::addFault(const Fault &fault)
{
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.append({fault, 0});
}

void Instrument::clearFaults()
{
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

} // namespace benchsim
