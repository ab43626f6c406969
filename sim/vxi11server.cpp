#include "sim/vxi11server.h"

#include "sim/portmapper.h"
#include "sim/rpclistener.h"
#include "sim/vxi11link.h"
#include "visa/vxi11proto.h"

#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <map>

namespace benchsim {

using oncrpc::Bytes;
using oncrpc::XdrReader;
using oncrpc::XdrWriter;

namespace {
constexpr size_t MaxDeviceName = 256;
// Room for the call header around the largest write we accept, so an
// oversized write is answered with a parameter error, not a dropped link.
constexpr size_t RecordSlack = 64 * 1024;
// Links open at once on the whole server. Each may hold an unfinished
// message of up to MaxProgramMessage bytes; a LAN instrument allows a few.
constexpr size_t MaxLinks = 64;
} // namespace

struct Vxi11Server::Private {
    QVector<Device> devices;
    Options options;
    std::vector<std::string> addresses; // distinct, in order of first use
    std::vector<std::unique_ptr<TcpRecordServer>> core, abort;
    std::unique_ptr<Portmapper> portmapper;
    quint16 corePort = 0, abortPort = 0, pmPort = 0;

    LinkWaker waker;
    mutable std::mutex registryMutex;
    std::map<uint32_t, Vxi11Link *> registry; // every open link, for device_abort
    uint32_t nextLid = 1;
    std::atomic<quint32> largestWrite{0};

    int selectDevice(const std::string &localIp, const std::string &name) const;
    size_t maxRecord() const { return std::max<size_t>(options.maxRecvSize, 1u << 20) + RecordSlack; }
};

int Vxi11Server::Private::selectDevice(const std::string &localIp, const std::string &name) const
{
    static const QRegularExpression instN(QStringLiteral("^inst(\\d{1,3})$"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = instN.match(QString::fromStdString(name));
    if (!m.hasMatch())
        return -1;
    const int k = m.captured(1).toInt();
    QVector<int> here;
    for (int i = 0; i < devices.size(); ++i) {
        if (devices[i].address.toStdString() == localIp)
            here.append(i);
    }
    // One instrument behind the address: it answers to any instN, as the
    // address already says which instrument is meant.
    if (here.size() == 1)
        return here[0];
    return k < here.size() ? here[k] : -1;
}

namespace {

uint32_t lidOf(XdrReader &r) { return r.u32(); }

// Reads a call's header, the one place either channel does: true when the
// call is for prog version vers and its arguments follow in r. Otherwise
// *reply holds the RPC-level refusal, or out says to answer nothing when
// the record is no call at all.
bool acceptCall(XdrReader &r, uint32_t prog, uint32_t vers, oncrpc::CallHeader *h, Bytes *reply,
                RecordOutcome *out)
{
    if (!oncrpc::decodeCall(r, h)) {
        out->reply = false;
        return false;
    }
    if (h->rpcVersion != oncrpc::RpcVersion)
        *reply = oncrpc::encodeRpcMismatch(h->xid);
    else if (h->prog != prog)
        *reply = oncrpc::encodeReply(h->xid, oncrpc::ProgUnavail);
    else if (h->vers != vers)
        *reply = oncrpc::encodeProgMismatch(h->xid, vers, vers);
    else
        return true;
    return false;
}

class CoreSession : public RecordSession {
public:
    CoreSession(Vxi11Server::Private *d, std::string localIp) : d_(d), localIp_(std::move(localIp)) {}
    ~CoreSession() override
    {
        std::lock_guard<std::mutex> lock(d_->registryMutex);
        for (auto &l : links_)
            d_->registry.erase(l.first);
    }

    RecordOutcome onRecord(const Bytes &record, Bytes *reply) override
    {
        RecordOutcome out;
        XdrReader r(record);
        oncrpc::CallHeader h;
        if (acceptCall(r, vxi11::CoreProgram, vxi11::CoreVersion, &h, reply, &out))
            dispatch(h, r, reply, &out);
        return out;
    }

private:
    Vxi11Link *link(uint32_t lid)
    {
        auto it = links_.find(lid);
        return it == links_.end() ? nullptr : it->second.get();
    }

    void dispatch(const oncrpc::CallHeader &h, XdrReader &r, Bytes *reply, RecordOutcome *out)
    {
        XdrWriter w;
        switch (h.proc) {
        case vxi11::CreateLink: {
            r.i32();     // clientId
            r.boolean(); // lockDevice: locks are always granted, there is one client per instrument
            r.u32();     // lock_timeout
            const std::string name = r.string(MaxDeviceName);
            const int dev = r.ok() ? d_->selectDevice(localIp_, name) : -1;
            uint32_t lid = 0;
            uint32_t error = dev >= 0 ? vxi11::ErrNone : vxi11::ErrNotAccessible;
            if (dev >= 0) {
                std::lock_guard<std::mutex> lock(d_->registryMutex);
                if (d_->registry.size() >= MaxLinks) {
                    error = vxi11::ErrOutOfResources;
                } else {
                    lid = d_->nextLid++;
                    auto l = std::make_unique<Vxi11Link>(d_->devices[dev].endpoint, &d_->waker);
                    links_[lid] = std::move(l);
                    d_->registry[lid] = links_[lid].get();
                }
            }
            w.u32(error);
            w.u32(lid);
            w.u32(d_->abortPort);
            w.u32(d_->options.maxRecvSize);
            break;
        }
        case vxi11::DeviceWrite: {
            const uint32_t lid = lidOf(r);
            r.u32(); // io_timeout: input is taken at once
            r.u32(); // lock_timeout
            const uint32_t flags = r.u32();
            const Bytes data = r.opaque(d_->maxRecord());
            Vxi11Link *l = link(lid);
            if (!r.ok())
                break;
            quint32 seen = d_->largestWrite;
            while (data.size() > seen && !d_->largestWrite.compare_exchange_weak(seen, quint32(data.size()))) {
            }
            if (!l) {
                w.u32(vxi11::ErrInvalidLink);
                w.u32(0);
            } else if (data.size() > d_->options.maxRecvSize) {
                w.u32(vxi11::ErrParameter);
                w.u32(0);
            } else {
                const Vxi11Link::WriteResult res = l->write(data.data(), data.size(), flags & vxi11::FlagEnd);
                w.u32(res.error);
                w.u32(res.size);
                out->closeAfter = res.close;
                out->closeDelayMs = res.closeDelayMs;
            }
            break;
        }
        case vxi11::DeviceRead: {
            const uint32_t lid = lidOf(r);
            const uint32_t requestSize = r.u32();
            const uint32_t ioTimeout = r.u32();
            r.u32(); // lock_timeout
            const uint32_t flags = r.u32();
            const uint32_t termChar = r.u32();
            Vxi11Link *l = link(lid);
            if (!r.ok())
                break;
            if (!l) {
                w.u32(vxi11::ErrInvalidLink);
                w.u32(0);
                w.opaque(nullptr, 0);
                break;
            }
            const Vxi11Link::ReadResult res = l->read(requestSize, ioTimeout, flags & vxi11::FlagTermChrSet,
                                                      static_cast<uint8_t>(termChar), peerFd());
            if (res.dropConnection) {
                out->reply = false;
                out->closeAfter = true;
                return;
            }
            w.u32(res.error);
            w.u32(res.reason);
            // The data goes out from the response itself, after the length.
            w.u32(uint32_t(res.data.size()));
            out->tail = res.data;
            out->keep = res.owner;
            break;
        }
        case vxi11::DeviceReadStb: {
            const uint32_t lid = lidOf(r);
            w.u32(link(lid) ? vxi11::ErrNone : vxi11::ErrInvalidLink);
            w.u32(0); // status byte: nothing to report
            break;
        }
        case vxi11::DeviceRemote:
        case vxi11::DeviceLocal: {
            const uint32_t lid = lidOf(r);
            Vxi11Link *l = link(lid);
            if (!r.ok())
                break;
            if (!l) {
                w.u32(vxi11::ErrInvalidLink);
                break;
            }
            const Vxi11Link::ControlResult res = l->remoteLocal(h.proc == vxi11::DeviceLocal);
            if (res.close) {
                out->reply = false;
                out->closeAfter = true;
                return;
            }
            w.u32(res.error);
            break;
        }
        case vxi11::DeviceTrigger:
        case vxi11::DeviceClear:
        case vxi11::DeviceLock:
        case vxi11::DeviceUnlock: {
            const uint32_t lid = lidOf(r);
            Vxi11Link *l = link(lid);
            if (l && h.proc == vxi11::DeviceClear)
                l->clear();
            w.u32(l ? vxi11::ErrNone : vxi11::ErrInvalidLink);
            break;
        }
        case vxi11::DestroyLink: {
            const uint32_t lid = lidOf(r);
            auto it = links_.find(lid);
            const bool found = it != links_.end();
            if (found) {
                {
                    std::lock_guard<std::mutex> lock(d_->registryMutex);
                    d_->registry.erase(lid);
                }
                links_.erase(it);
            }
            w.u32(found ? vxi11::ErrNone : vxi11::ErrInvalidLink);
            break;
        }
        case vxi11::DeviceDoCmd:
            w.u32(vxi11::ErrNotSupported);
            w.opaque(nullptr, 0);
            break;
        case vxi11::DeviceEnableSrq:
        case vxi11::CreateIntrChan:
        case vxi11::DestroyIntrChan:
            // No service requests: nothing here ever asks for attention.
            w.u32(vxi11::ErrNotSupported);
            break;
        default:
            *reply = oncrpc::encodeReply(h.xid, oncrpc::ProcUnavail);
            return;
        }
        if (r.ok()) {
            *reply = oncrpc::encodeReply(h.xid, oncrpc::Success, w.bytes());
        } else {
            *reply = oncrpc::encodeReply(h.xid, oncrpc::GarbageArgs);
            out->tail.clear(); // results only follow a success
            out->keep.clear();
        }
    }

    Vxi11Server::Private *d_;
    std::string localIp_;
    std::map<uint32_t, std::unique_ptr<Vxi11Link>> links_;
};

class AbortSession : public RecordSession {
public:
    explicit AbortSession(Vxi11Server::Private *d) : d_(d) {}
    RecordOutcome onRecord(const Bytes &record, Bytes *reply) override
    {
        RecordOutcome out;
        XdrReader r(record);
        oncrpc::CallHeader h;
        if (!acceptCall(r, vxi11::AbortProgram, vxi11::AbortVersion, &h, reply, &out))
            return out;
        if (h.proc != vxi11::DeviceAbort) {
            *reply = oncrpc::encodeReply(h.xid, oncrpc::ProcUnavail);
            return out;
        }
        const uint32_t lid = r.u32();
        uint32_t error = vxi11::ErrInvalidLink;
        {
            std::lock_guard<std::mutex> lock(d_->registryMutex);
            auto it = d_->registry.find(lid);
            if (it != d_->registry.end()) {
                it->second->abort();
                error = vxi11::ErrNone;
            }
        }
        XdrWriter w;
        w.u32(error);
        *reply = oncrpc::encodeReply(h.xid, oncrpc::Success, w.bytes());
        return out;
    }

private:
    Vxi11Server::Private *d_;
};

} // namespace

Vxi11Server::Vxi11Server(const QVector<Device> &devices) : Vxi11Server(devices, Options()) {}

Vxi11Server::Vxi11Server(const QVector<Device> &devices, const Options &options) : d(new Private)
{
    d->devices = devices;
    d->options = options;
    for (const Device &dev : devices) {
        const std::string a = dev.address.toStdString();
        if (std::find(d->addresses.begin(), d->addresses.end(), a) == d->addresses.end())
            d->addresses.push_back(a);
    }
}

Vxi11Server::~Vxi11Server() { stop(); }

bool Vxi11Server::start(QString *error)
{
    std::string err;
    {
        std::lock_guard<std::mutex> lock(d->waker.mutex);
        d->waker.stopping = false;
    }
    Private *p = d.get();
    auto fail = [&] {
        if (error)
            *error = QString::fromStdString(err);
        stop();
        return false;
    };
    // The first address picks free ports; the others reuse the same numbers,
    // so one mapping table serves all of them. The abort port is settled
    // before any core channel runs: create_link hands it out.
    for (const std::string &a : d->addresses) {
        auto ab = std::make_unique<TcpRecordServer>();
        if (!ab->listen(a, d->abortPort, 64 * 1024,
                        [p](const std::string &) { return std::make_unique<AbortSession>(p); }, &err))
            return fail();
        d->abortPort = ab->port();
        d->abort.push_back(std::move(ab));
    }
    for (const std::string &a : d->addresses) {
        auto core = std::make_unique<TcpRecordServer>();
        if (!core->listen(a, d->corePort, d->maxRecord(),
                          [p](const std::string &ip) { return std::make_unique<CoreSession>(p, ip); }, &err))
            return fail();
        d->corePort = core->port();
        d->core.push_back(std::move(core));
    }
    if (d->options.portmapper) {
        std::vector<PortMapping> table = {
            {vxi11::CoreProgram, vxi11::CoreVersion, portmap::ProtoTcp, d->corePort},
            {vxi11::AbortProgram, vxi11::AbortVersion, portmap::ProtoTcp, d->abortPort},
        };
        d->portmapper = std::make_unique<Portmapper>(table);
        d->pmPort = d->options.portmapperPort;
        for (const std::string &a : d->addresses) {
            if (!d->portmapper->listen(a, d->pmPort, &err))
                return fail();
            d->pmPort = d->portmapper->tcpPort(0);
        }
        // On port 111 the bench is found by broadcast, as LAN instruments are.
        if (d->pmPort == portmap::Port && !d->portmapper->answerBroadcasts(&err))
            return fail();
    }
    return true;
}

void Vxi11Server::stop()
{
    {
        std::lock_guard<std::mutex> lock(d->waker.mutex);
        d->waker.stopping = true;
        d->waker.cv.notify_all();
    }
    for (auto &s : d->core)
        s->stop();
    for (auto &s : d->abort)
        s->stop();
    if (d->portmapper)
        d->portmapper->stop();
    d->core.clear();
    d->abort.clear();
    d->portmapper.reset();
}

quint16 Vxi11Server::corePort() const { return d->corePort; }
quint16 Vxi11Server::abortPort() const { return d->abortPort; }
quint16 Vxi11Server::portmapperPort() const { return d->pmPort; }

QString Vxi11Server::resource(int i) const
{
    if (i < 0 || i >= d->devices.size())
        return {};
    const QString addr = d->devices[i].address;
    if (d->options.portmapper && d->pmPort == portmap::Port)
        return QStringLiteral("TCPIP::%1::INSTR").arg(addr);
    int k = 0; // its number among the instruments on the same address
    for (int j = 0; j < i; ++j)
        k += d->devices[j].address == addr ? 1 : 0;
    return QStringLiteral("TCPIP::%1,%2::inst%3::INSTR").arg(addr).arg(d->corePort).arg(k);
}

int Vxi11Server::linkCount() const
{
    std::lock_guard<std::mutex> lock(d->registryMutex);
    return int(d->registry.size());
}

quint32 Vxi11Server::largestWrite() const { return d->largestWrite; }

} // namespace benchsim
