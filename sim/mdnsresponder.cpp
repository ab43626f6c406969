#include "sim/mdnsresponder.h"

#include "visa/lanservices.h"
#include "visa/resource.h"

#include <cctype>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace benchsim {

namespace {

using mdns::Message;
using mdns::Name;
using mdns::Record;

// A query with more questions than this has the rest ignored.
constexpr size_t MaxQuestions = 32;
// Record lifetimes (RFC 6762, 10): host-bound records two minutes, others
// 75 minutes; at most ten seconds in an answer to a one-shot query.
constexpr uint32_t HostTtl = 120;
constexpr uint32_t OtherTtl = 4500;
constexpr uint32_t OneShotTtl = 10;

Name under(const std::string &dotted)
{
    Name n = mdns::nameFromText(dotted);
    n.push_back("local");
    return n;
}

Name instanceName(const MdnsService &s)
{
    Name n = under(s.type);
    n.insert(n.begin(), s.instance);
    return n;
}

bool asks(const mdns::Question &q, uint16_t type)
{
    return q.type == type || q.type == mdns::ANY;
}

bool sameRecord(const Record &a, const Record &b)
{
    return a.type == b.type && mdns::sameName(a.name, b.name) && mdns::sameName(a.target, b.target)
        && a.port == b.port && a.ipv4 == b.ipv4 && a.texts == b.texts;
}

void add(std::vector<Record> *to, const Record &r)
{
    for (const Record &have : *to) {
        if (sameRecord(have, r))
            return;
    }
    to->push_back(r);
}

// One host's records, with the lifetimes and cache-flush bits of the
// kind of answer being made.
class HostRecords {
public:
    HostRecords(const MdnsHost &host, bool oneShot) : host_(host), oneShot_(oneShot) {}

    Record a() const { return unique(mdns::A, under(host_.name), HostTtl, [&](Record &r) { r.ipv4 = host_.address; }); }
    Record srv(const MdnsService &s) const
    {
        return unique(mdns::SRV, instanceName(s), HostTtl, [&](Record &r) {
            r.port = s.port;
            r.target = under(host_.name);
        });
    }
    Record txt(const MdnsService &s) const
    {
        return unique(mdns::TXT, instanceName(s), OtherTtl, [&](Record &r) { r.texts = s.texts; });
    }
    // Shared records (PTR) never carry the cache-flush bit.
    Record ptr(const Name &name, const Name &target) const
    {
        Record r;
        r.name = name;
        r.type = mdns::PTR;
        r.ttl = oneShot_ ? OneShotTtl : OtherTtl;
        r.target = target;
        return r;
    }

private:
    template <typename Fill>
    Record unique(uint16_t type, const Name &name, uint32_t ttl, Fill fill) const
    {
        Record r;
        r.name = name;
        r.type = type;
        // A one-shot querier is no cache to flush (RFC 6762, 6.7).
        r.klass = uint16_t(mdns::ClassIn | (oneShot_ ? 0 : mdns::TopBit));
        r.ttl = oneShot_ ? OneShotTtl : ttl;
        fill(r);
        return r;
    }

    const MdnsHost &host_;
    bool oneShot_;
};

void answerQuestion(const mdns::Question &q, const MdnsHost &host, const HostRecords &rec, Message *m)
{
    static const Name allTypes = mdns::nameFromText("_services._dns-sd._udp.local");
    for (const MdnsService &s : host.services) {
        const Name type = under(s.type);
        const Name instance = instanceName(s);
        if (asks(q, mdns::PTR) && mdns::sameName(q.name, allTypes))
            add(&m->answers, rec.ptr(allTypes, type));
        if (asks(q, mdns::PTR) && mdns::sameName(q.name, type)) {
            add(&m->answers, rec.ptr(type, instance));
            add(&m->additionals, rec.srv(s));
            add(&m->additionals, rec.txt(s));
            add(&m->additionals, rec.a());
        }
        if (asks(q, mdns::SRV) && mdns::sameName(q.name, instance)) {
            add(&m->answers, rec.srv(s));
            add(&m->additionals, rec.a());
        }
        if (asks(q, mdns::TXT) && mdns::sameName(q.name, instance))
            add(&m->answers, rec.txt(s));
    }
    if (asks(q, mdns::A) && mdns::sameName(q.name, under(host.name)))
        add(&m->answers, rec.a());
}

// Encodes m, leaving out what does not fit one datagram: the additional
// records first, then answers from the end.
bool encodeFitting(Message *m, mdns::Bytes *out)
{
    for (;;) {
        if (mdns::encodeMessage(*m, out) && out->size() <= mdns::MaxMessage)
            return true;
        if (!m->additionals.empty())
            m->additionals.clear();
        else if (!m->answers.empty())
            m->answers.pop_back();
        else
            return false;
    }
}

std::string hostNameFor(const std::string &ip)
{
    std::string name = "benchsim-" + ip;
    for (char &c : name) {
        if (c == '.')
            c = '-';
    }
    return name;
}

bool startsWithNoCase(const std::string &s, const char *prefix)
{
    for (size_t i = 0; prefix[i]; ++i) {
        if (i >= s.size() || std::tolower(static_cast<unsigned char>(s[i])) != prefix[i])
            return false;
    }
    return true;
}

// "hislip0,4881": the port after the sub-address; 4880 when none is named.
uint16_t hislipPort(const visa::Resource &r)
{
    const size_t comma = r.device.find(',');
    if (r.port != 0 || comma == std::string::npos)
        return r.port != 0 ? r.port : uint16_t(4880);
    const std::string digits = r.device.substr(comma + 1);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const unsigned long port = std::stoul(digits);
    return port <= 0xffff ? uint16_t(port) : 0;
}

} // namespace

std::vector<MdnsHost> mdnsHosts(const std::vector<Announcement> &announced)
{
    std::vector<MdnsHost> hosts;
    for (const Announcement &a : announced) {
        visa::Resource r;
        in_addr ip{};
        if (!visa::parseResource(a.resource, &r) || ::inet_pton(AF_INET, r.host.c_str(), &ip) != 1)
            continue;
        std::vector<MdnsService> services;
        const std::vector<std::string> texts = {"txtvers=1", "Manufacturer=Benchsim", "Model=" + a.instrument};
        const std::string instance = "benchsim " + a.instrument;
        if (r.kind == visa::Resource::Kind::Socket)
            services.push_back({"_scpi-raw._tcp", instance, r.port, texts});
        else if (startsWithNoCase(r.device, "hislip"))
            services.push_back({"_hislip._tcp", instance, hislipPort(r), texts});
        else if (r.port == 0) // behind the portmapper on port 111
            services = {{"_vxi-11._tcp", instance, 111, texts}, {"_lxi._tcp", instance, 80, texts}};
        if (services.empty() || services.front().port == 0)
            continue;
        const uint32_t address = ntohl(ip.s_addr);
        MdnsHost *host = nullptr;
        for (MdnsHost &h : hosts) {
            if (h.address == address)
                host = &h;
        }
        if (!host) {
            hosts.push_back({address, hostNameFor(r.host), {}});
            host = &hosts.back();
        }
        host->services.insert(host->services.end(), services.begin(), services.end());
    }
    return hosts;
}

std::vector<MdnsAnswer> answerMdnsQuery(const uint8_t *data, size_t len, uint16_t sourcePort,
                                        const std::vector<MdnsHost> &hosts)
{
    std::vector<MdnsAnswer> out;
    Message query;
    // Only standard queries (opcode 0); responses are other responders' business.
    if (!mdns::parseMessage(data, len, &query) || query.isResponse() || (query.flags & 0x7800) != 0)
        return out;
    if (query.questions.size() > MaxQuestions)
        query.questions.resize(MaxQuestions);
    const bool oneShot = sourcePort != mdns::Port;
    for (const MdnsHost &host : hosts) {
        const HostRecords rec(host, oneShot);
        Message m;
        m.flags = mdns::FlagResponse | mdns::FlagAuthoritative;
        if (oneShot) {
            m.id = query.id;
            m.questions = query.questions;
        }
        for (const mdns::Question &q : query.questions)
            answerQuestion(q, host, rec, &m);
        // What an answer already holds is not repeated among the additional records.
        std::vector<Record> extra;
        for (const Record &r : m.additionals) {
            bool answered = false;
            for (const Record &a : m.answers)
                answered = answered || sameRecord(a, r);
            if (!answered)
                extra.push_back(r);
        }
        m.additionals = extra;
        MdnsAnswer answer;
        if (m.answers.empty() || !encodeFitting(&m, &answer.message) || m.answers.empty())
            continue;
        answer.source = host.address;
        answer.multicast = !oneShot;
        out.push_back(std::move(answer));
    }
    return out;
}

MdnsResponder::MdnsResponder(std::vector<MdnsHost> hosts) : hosts_(std::move(hosts)) {}

MdnsResponder::~MdnsResponder() { stop(); }

bool MdnsResponder::start(std::string *error)
{
    in_addr group{};
    ::inet_pton(AF_INET, mdns::GroupAddress, &group);
    const uint32_t groupAddress = ntohl(group.s_addr);
    auto answer = [this, groupAddress](const Datagram &d) {
        std::vector<DatagramReply> replies;
        for (MdnsAnswer &a : answerMdnsQuery(d.bytes.data(), d.bytes.size(), d.fromPort, hosts_)) {
            DatagramReply r;
            r.bytes = std::move(a.message);
            r.source = a.source;
            r.to = a.multicast ? groupAddress : d.from;
            r.toPort = a.multicast ? mdns::Port : d.fromPort;
            r.interfaceIndex = a.multicast ? d.interfaceIndex : 0;
            replies.push_back(std::move(r));
        }
        return replies;
    };
    if (!socket_.listen(mdns::Port, answer, error))
        return false;
    if (!socket_.joinGroupOnLoopback(groupAddress, error)) {
        socket_.stop();
        return false;
    }
    return true;
}

void MdnsResponder::stop()
{
    socket_.stop();
}

} // namespace benchsim
