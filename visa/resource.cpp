#include "visa/resource.h"

#include "visa/hislipproto.h"

#include <cctype>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace visa {

namespace {

bool equalsNoCase(const std::string &a, const char *b)
{
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

bool allDigits(const std::string &s)
{
    if (s.empty())
        return false;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

bool hasBlank(const std::string &s)
{
    for (char c : s) {
        if (std::isspace(static_cast<unsigned char>(c)) || std::iscntrl(static_cast<unsigned char>(c)))
            return true;
    }
    return false;
}

// A decimal TCP port 1..65535.
bool parsePort(const std::string &s, uint16_t *port)
{
    if (!allDigits(s) || s.size() > 5)
        return false;
    const unsigned long v = std::stoul(s);
    if (v == 0 || v > 65535)
        return false;
    *port = static_cast<uint16_t>(v);
    return true;
}

// Splits on "::". A bracketed IPv6 host ("[fe80::1]") stays one field.
bool splitFields(const std::string &s, std::vector<std::string> *fields)
{
    size_t pos = 0;
    while (true) {
        size_t searchFrom = pos;
        if (pos < s.size() && s[pos] == '[') {
            const size_t close = s.find(']', pos);
            if (close == std::string::npos)
                return false;
            searchFrom = close;
        }
        const size_t sep = s.find("::", searchFrom);
        if (sep == std::string::npos) {
            fields->push_back(s.substr(pos));
            return true;
        }
        fields->push_back(s.substr(pos, sep - pos));
        pos = sep + 2;
    }
}

bool isLabelChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
}

// A host name or dotted IPv4 address: labels of letters, digits, '-' and
// '_' (some lab networks use it) separated by single dots.
bool validHostName(const std::string &s)
{
    if (s.empty() || s.size() > 253)
        return false;
    size_t label = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '.') {
            if (label == 0)
                return false;
            label = 0;
        } else if (!isLabelChar(s[i]) || ++label > 63) {
            return false;
        }
    }
    return true;
}

// The inside of "[...]": an IPv6 address, optionally with a zone ("%eth0").
bool validIpv6(const std::string &s)
{
    const size_t pct = s.find('%');
    const std::string addr = s.substr(0, pct);
    in6_addr a{};
    if (inet_pton(AF_INET6, addr.c_str(), &a) != 1)
        return false;
    if (pct == std::string::npos)
        return true;
    const std::string zone = s.substr(pct + 1);
    if (zone.empty() || zone.size() > 64)
        return false;
    for (char c : zone) {
        if (!isLabelChar(c) && c != '.')
            return false;
    }
    return true;
}

// Checked here so that a malformed host ("[a,b]", "a..b") is a bad resource
// name at viOpen, not a host that is looked up and not found.
bool validHost(std::string *host)
{
    if (host->size() >= 2 && host->front() == '[' && host->back() == ']') {
        *host = host->substr(1, host->size() - 2);
        return validIpv6(*host);
    }
    return validHostName(*host);
}

// "hislipN" or "hislipN,port" (the keyword in any case): a HiSLIP
// sub-address, with the server's port when it is not the usual one.
// Takes a copy: the caller passes r->device, which is rewritten here.
bool parseHislipDevice(std::string device, Resource *r)
{
    const size_t comma = device.find(',');
    const std::string sub = device.substr(0, comma);
    if (sub.size() < 7 || !equalsNoCase(sub.substr(0, 6), "hislip") || !allDigits(sub.substr(6)))
        return false;
    r->kind = Resource::Kind::Hislip;
    r->device = sub;
    r->port = hislip::DefaultPort;
    return comma == std::string::npos || parsePort(device.substr(comma + 1), &r->port);
}

std::string trimmed(const std::string &s)
{
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

} // namespace

bool parseResource(const std::string &text, Resource *out)
{
    const std::string s = trimmed(text);
    std::vector<std::string> f;
    if (!splitFields(s, &f) || f.size() < 2)
        return false;

    // Interface field: "TCPIP" with an optional board number.
    const std::string &intf = f[0];
    if (intf.size() < 5 || !equalsNoCase(intf.substr(0, 5), "TCPIP"))
        return false;
    Resource r;
    const std::string board = intf.substr(5);
    if (!board.empty()) {
        if (!allDigits(board) || board.size() > 4)
            return false;
        r.board = std::stoi(board);
    }

    r.host = f[1];
    const std::string last = f.back();
    if (equalsNoCase(last, "SOCKET")) {
        r.kind = Resource::Kind::Socket;
        if (f.size() != 4 || !parsePort(f[2], &r.port))
            return false;
    } else {
        // INSTR; as in VISA the class suffix may be left out.
        size_t n = f.size();
        if (n >= 3 && equalsNoCase(last, "INSTR"))
            --n;
        if (n > 3)
            return false;
        r.kind = Resource::Kind::Instr;
        if (n == 3) {
            r.device = f[2];
            if (r.device.empty() || hasBlank(r.device) || r.device.find(':') != std::string::npos)
                return false;
        }
        const size_t comma = r.host.rfind(',');
        const bool hostPort = comma != std::string::npos && r.host.find(']', comma) == std::string::npos;
        if (n == 3 && equalsNoCase(r.device.substr(0, 6), "hislip")) {
            // A HiSLIP port goes with the sub-address; one on the host
            // would say which of the two protocols to speak there.
            if (hostPort || !parseHislipDevice(r.device, &r))
                return false;
        } else if (hostPort) {
            // "host,port" names the core-channel port and skips the portmapper.
            if (!parsePort(r.host.substr(comma + 1), &r.port))
                return false;
            r.host.erase(comma);
        }
    }
    if (!validHost(&r.host))
        return false;
    *out = r;
    return true;
}

} // namespace visa
