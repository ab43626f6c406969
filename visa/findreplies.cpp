#include "visa/findreplies.h"

#include "visa/lanservices.h"
#include "visa/vxi11proto.h"

#include <algorithm>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace visa {

namespace {

constexpr uint32_t MulticastStart = 0xE0000000u; // 224.0.0.0, then broadcast

const mdns::Name &localDomain()
{
    static const mdns::Name local = {"local"};
    return local;
}

mdns::Name serviceName(const LanServiceType &type)
{
    mdns::Name n = mdns::nameFromText(type.name);
    n.insert(n.end(), localDomain().begin(), localDomain().end());
    return n;
}

const LanServiceType *serviceTypeOf(const mdns::Name &name)
{
    for (const LanServiceType &t : LanServiceTypes) {
        if (mdns::sameName(name, serviceName(t)))
            return &t;
    }
    return nullptr;
}

std::string dotted(uint32_t ipv4)
{
    in_addr a{};
    a.s_addr = htonl(ipv4);
    char text[INET_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET, &a, text, sizeof text) ? text : "";
}

// Records of a response in the order the sections give them.
std::vector<const mdns::Record *> allRecords(const mdns::Message &m)
{
    std::vector<const mdns::Record *> all;
    for (const auto *section : {&m.answers, &m.authorities, &m.additionals}) {
        for (const mdns::Record &r : *section)
            all.push_back(&r);
    }
    return all;
}

const mdns::Record *findRecord(const std::vector<const mdns::Record *> &all, uint16_t type, const mdns::Name &name)
{
    for (const mdns::Record *r : all) {
        if (r->type == type && mdns::sameName(r->name, name))
            return r;
    }
    return nullptr;
}

} // namespace

oncrpc::Bytes coreChannelQuery(uint32_t xid)
{
    oncrpc::XdrWriter w;
    w.u32(vxi11::CoreProgram);
    w.u32(vxi11::CoreVersion);
    w.u32(portmap::ProtoTcp);
    w.u32(0);
    return oncrpc::encodeCall(xid, portmap::Program, portmap::Version2, portmap::GetPort, w.bytes());
}

bool coreChannelAnswered(const uint8_t *data, size_t len, uint32_t xid)
{
    if (!data)
        return false;
    oncrpc::XdrReader r(data, len);
    oncrpc::ReplyHeader h;
    if (!oncrpc::decodeReply(r, &h) || h.xid != xid || !h.success())
        return false;
    const uint32_t port = r.u32();
    return r.ok() && port != 0 && port <= 0xffff;
}

mdns::Bytes lanServicesQuery(uint16_t id)
{
    mdns::Message m;
    m.id = id;
    for (const LanServiceType &t : LanServiceTypes)
        m.questions.push_back({serviceName(t), mdns::PTR, uint16_t(mdns::ClassIn | mdns::TopBit)});
    mdns::Bytes out;
    mdns::encodeMessage(m, &out);
    return out;
}

std::vector<std::string> resourcesInMdnsResponse(const uint8_t *data, size_t len, const std::string &sourceIp)
{
    std::vector<std::string> found;
    mdns::Message m;
    if (!mdns::parseMessage(data, len, &m) || !m.isResponse())
        return found;
    const std::vector<const mdns::Record *> all = allRecords(m);
    for (const mdns::Record *ptr : all) {
        const LanServiceType *type = ptr->type == mdns::PTR ? serviceTypeOf(ptr->name) : nullptr;
        if (!type)
            continue;
        std::string ip = sourceIp;
        uint16_t port = type->defaultPort;
        if (const mdns::Record *srv = findRecord(all, mdns::SRV, ptr->target)) {
            if (type->portNamed)
                port = srv->port;
            // An address nobody can connect to leaves the responder's own.
            const mdns::Record *a = findRecord(all, mdns::A, srv->target);
            if (a && a->ipv4 != 0 && a->ipv4 < MulticastStart)
                ip = dotted(a->ipv4);
        }
        // Port 0 announces a service that is not offered (RFC 2782).
        if (ip.empty() || (type->portNamed && port == 0))
            continue;
        const std::string rsrc = lanResource(type->protocol, ip, port);
        if (std::find(found.begin(), found.end(), rsrc) == found.end())
            found.push_back(rsrc);
    }
    return found;
}

} // namespace visa
