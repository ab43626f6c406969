#include "sim/instrument.h"

#include <algorithm>
#include <atomic>
#include <limits>

namespace benchsim {

namespace {
// A real instrument's queue holds a handful of entries; the last slot then
// reports the overflow.
constexpr int kErrorQueueSize = 10;
const char kGarbage[] = "?garbage?\n";
// Count that announces about 1 GB of data.
const char kHugeCount[] = "999999999";
// Shared by every instrument: a client waits for each answer before it sends
// the next message, so this orders the exchanges across instruments.
std::atomic<quint64> nextSequence{1};
} // namespace

Instrument::Instrument(const QString &name, int latencyMs) : name_(name), latencyMs_(latencyMs) {}

void Instrument::trigger(Context &) {}

int Instrument::addDelay(int delayMs, int moreMs)
{
    return int(std::min<qint64>(qint64(delayMs) + moreMs, std::numeric_limits<int>::max()));
}

void Instrument::pushError(int code, const char *text)
{
    if (int(errors_.size()) >= kErrorQueueSize)
        return;
    if (int(errors_.size()) == kErrorQueueSize - 1) {
        errors_.push_back("-350,\"Queue overflow\"");
        return;
    }
    errors_.push_back(QByteArray::number(code) + ",\"" + text + '"');
}

void Instrument::storeOrRecall(const Command &cmd, Context &ctx)
{
    if (cmd.query) {
        ctx.units.append(settings_.value(cmd.header.chopped(1), "0"));
    } else {
        settings_.insert(cmd.header, cmd.args);
    }
}

bool Instrument::executeCommon(const Command &cmd, Context &ctx)
{
    const QByteArray &h = cmd.header;
    if (h == "*IDN?") {
        ctx.units.append(identity());
    } else if (h == "*OPC?") {
        ctx.units.append("1");
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
        ctx.units.append("0");
    } else if (h == "SYST:ERR?" || h == "SYST:ERR:NEXT?") {
        if (errors_.empty()) {
            ctx.units.append("0,\"No error\"");
        } else {
            ctx.units.append(errors_.front());
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
        Context ctx;
        bool unknown = false;
        for (const Command &cmd : splitMessage(message)) {
            if (executeCommon(cmd, ctx) || execute(cmd, ctx))
                continue;
            unknown = true;
            pushError(-113, "Undefined header");
        }
        if (!ctx.units.isEmpty() && !ctx.stalled) {
            response.action = Response::Action::Reply;
            response.bytes = ctx.units.join(';') + '\n';
        }
        response.delayMs = addDelay(latencyMs_, ctx.delayMs);

        entry.instrument = name_;
        entry.command = message;
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
        log_.append(entry);
        listener = listener_;
    }
    if (listener)
        listener(entry);
    return response;
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
    const QByteArray payload = blockPayload(response.bytes);
    const QByteArray count = QByteArray::number(payload.size());
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
        reply(kGarbage);
        break;
    case Fault::Kind::BlockDigit0:
        reply("#0" + payload + '\n');
        break;
    case Fault::Kind::BlockNonDigit:
        reply("#x" + count + payload + '\n');
        break;
    case Fault::Kind::BlockShortLength:
        // One length digit more announced than follow; no data.
        reply("#" + QByteArray::number(count.size() + 1) + count + '\n');
        break;
    case Fault::Kind::BlockShortData:
        reply("#" + QByteArray::number(count.size()) + count + payload.left(payload.size() / 2) + '\n');
        break;
    case Fault::Kind::BlockHugeCount:
        reply(QByteArray("#9") + kHugeCount + payload + '\n');
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
    return log_;
}

void Instrument::clearLog()
{
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
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
