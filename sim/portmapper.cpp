#include "sim/portmapper.h"

#include "visa/vxi11proto.h"

#include <algorithm>

#include <arpa/inet.h>

namespace benchsim {

using oncrpc::Bytes;
using oncrpc::XdrReader;
using oncrpc::XdrWriter;

namespace {

constexpr size_t MaxField = 1024; // netid, address and owner strings

const char *netidOf(uint32_t prot)
{
    return prot == portmap::ProtoTcp ? "tcp" : prot == portmap::ProtoUdp ? "udp" : "";
}

const PortMapping *find(const std::vector<PortMapping> &table, uint32_t prog, uint32_t vers, uint32_t prot)
{
    for (const PortMapping &m : table) {
        if (m.prog == prog && m.vers == vers && m.prot == prot)
            return &m;
    }
    return nullptr;
}

class PortmapSession : public RecordSession {
public:
    PortmapSession(const Portmapper &portmapper, std::string localIp)
        : portmapper_(portmapper), localIp_(std::move(localIp))
    {
    }
    RecordOutcome onRecord(const Bytes &record, Bytes *reply) override
    {
        RecordOutcome out;
        out.reply = answerPortmapperCall(record, portmapper_.table(), localIp_, reply);
        return out;
    }

private:
    const Portmapper &portmapper_;
    std::string localIp_;
};

uint32_t fromDotted(const std::string &ip)
{
    in_addr a{};
    return ::inet_pton(AF_INET, ip.c_str(), &a) == 1 ? ntohl(a.s_addr) : 0;
}

} // namespace

std::string universalAddress(const std::string &ip, uint16_t port)
{
    return ip + "." + std::to_string(port >> 8) + "." + std::to_string(port & 0xff);
}

bool answerPortmapperCall(const Bytes &call, const std::vector<PortMapping> &table, const std::string &localIp,
                          Bytes *reply)
{
    XdrReader r(call);
    oncrpc::CallHeader h;
    if (!oncrpc::decodeCall(r, &h))
        return false;
    if (h.rpcVersion != oncrpc::RpcVersion) {
        *reply = oncrpc::encodeRpcMismatch(h.xid);
        return true;
    }
    if (h.prog != portmap::Program) {
        *reply = oncrpc::encodeReply(h.xid, oncrpc::ProgUnavail);
        return true;
    }
    if (h.vers < portmap::Version2 || h.vers > portmap::Version4) {
        *reply = oncrpc::encodeProgMismatch(h.xid, portmap::Version2, portmap::Version4);
        return true;
    }

    XdrWriter w;
    const bool v2 = h.vers == portmap::Version2;
    if (h.proc == portmap::Null) {
        // no arguments, no results
    } else if (v2 && h.proc == portmap::GetPort) {
        const uint32_t prog = r.u32(), vers = r.u32(), prot = r.u32();
        r.u32(); // port: unused in a query
        const PortMapping *m = find(table, prog, vers, prot);
        w.u32(m ? m->port : 0);
    } else if (!v2 && (h.proc == portmap::GetAddr || (h.vers == portmap::Version4 && h.proc == portmap::GetVersAddr))) {
        const uint32_t prog = r.u32(), vers = r.u32();
        const std::string netid = r.string(MaxField);
        r.string(MaxField); // r_addr
        r.string(MaxField); // r_owner
        uint32_t prot = netid == "tcp" ? portmap::ProtoTcp : netid == "udp" ? portmap::ProtoUdp : 0;
        const PortMapping *m = find(table, prog, vers, prot);
        w.string(m ? universalAddress(localIp, m->port) : std::string());
    } else if (h.proc == portmap::Dump) {
        for (const PortMapping &m : table) {
            w.boolean(true);
            w.u32(m.prog);
            w.u32(m.vers);
            if (v2) {
                w.u32(m.prot);
                w.u32(m.port);
            } else {
                w.string(netidOf(m.prot));
                w.string(universalAddress(localIp, m.port));
                w.string("superuser");
            }
        }
        w.boolean(false);
    } else if (h.proc == portmap::Set || h.proc == portmap::Unset) {
        w.boolean(false); // the table is fixed: nobody registers with us
    } else {
        *reply = oncrpc::encodeReply(h.xid, oncrpc::ProcUnavail);
        return true;
    }
    if (!r.ok()) {
        *reply = oncrpc::encodeReply(h.xid, oncrpc::GarbageArgs);
        return true;
    }
    *reply = oncrpc::encodeReply(h.xid, oncrpc::Success, w.bytes());
    return true;
}

Portmapper::Portmapper(std::vector<PortMapping> table) : table_(std::move(table)) {}

Portmapper::~Portmapper() { stop(); }

std::vector<PortMapping> Portmapper::table() const
{
    std::vector<PortMapping> all = table_;
    if (const uint16_t port = ownPort_.load()) {
        for (uint32_t vers : {portmap::Version4, portmap::Version3, portmap::Version2}) {
            for (uint32_t prot : {portmap::ProtoTcp, portmap::ProtoUdp})
                all.push_back({portmap::Program, vers, prot, port});
        }
    }
    return all;
}

bool Portmapper::listen(const std::string &ip, uint16_t port, std::string *error)
{
    auto tcp = std::make_unique<TcpRecordServer>();
    auto factory = [this](const std::string &local) { return std::make_unique<PortmapSession>(*this, local); };
    if (!tcp->listen(ip, port, 64 * 1024, factory, error))
        return false;
    auto udp = std::make_unique<UdpRecordServer>();
    auto handler = [this](const Bytes &in, const std::string &local, Bytes *out) {
        return answerPortmapperCall(in, table(), local, out);
    };
    // UDP on the same port number the TCP side got.
    if (!udp->listen(ip, tcp->port(), handler, error))
        return false;
    if (tcp_.empty())
        ownPort_ = tcp->port();
    tcp_.push_back(std::move(tcp));
    udp_.push_back(std::move(udp));
    addresses_.push_back(ip);
    return true;
}

bool Portmapper::answerBroadcasts(std::string *error)
{
    if (tcp_.empty()) {
        *error = "no address served";
        return false;
    }
    const std::vector<uint32_t> broadcasts = broadcastAddresses();
    auto responder = std::make_unique<DatagramResponder>();
    auto answer = [this, broadcasts](const Datagram &d) {
        std::vector<DatagramReply> replies;
        if (std::find(broadcasts.begin(), broadcasts.end(), d.to) == broadcasts.end())
            return replies; // sent to an address of its own: its socket answers
        for (const std::string &ip : addresses_) {
            DatagramReply r;
            if (!answerPortmapperCall(d.bytes, table(), ip, &r.bytes))
                break;
            r.source = fromDotted(ip);
            r.to = d.from;
            r.toPort = d.fromPort;
            replies.push_back(std::move(r));
        }
        return replies;
    };
    if (!responder->listen(ownPort_.load(), answer, error))
        return false;
    broadcast_ = std::move(responder);
    return true;
}

void Portmapper::stop()
{
    if (broadcast_)
        broadcast_->stop();
    for (auto &s : tcp_)
        s->stop();
    for (auto &s : udp_)
        s->stop();
}

uint16_t Portmapper::tcpPort(size_t i) const
{
    return i < tcp_.size() ? tcp_[i]->port() : 0;
}

} // namespace benchsim
