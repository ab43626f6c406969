#include "visa/findtargets.h"

#include <cctype>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace visa {

namespace {

bool dottedAddress(const std::string &s, uint32_t *out)
{
    in_addr a{};
    if (::inet_pton(AF_INET, s.c_str(), &a) != 1)
        return false;
    *out = ntohl(a.s_addr);
    return true;
}

bool allDigits(const std::string &s)
{
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return !s.empty();
}

// Labels of letters, digits, '-' and '_' between single dots; a last label
// of digits only is a mistyped address ("10.0.0.256"), not a name.
bool hostName(const std::string &s)
{
    if (s.empty() || s.size() > 253)
        return false;
    size_t start = 0;
    std::string label;
    for (size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == '.') {
            label = s.substr(start, i - start);
            if (label.empty() || label.size() > 63)
                return false;
            start = i + 1;
        } else if (!std::isalnum(static_cast<unsigned char>(s[i])) && s[i] != '-' && s[i] != '_') {
            return false;
        }
    }
    return !allDigits(label);
}

// The host addresses of a.b.c.d/n appended to *out; false for a bad prefix
// or one that would take out past MaxFindAddresses.
bool subnet(const std::string &s, size_t slash, std::vector<uint32_t> *out)
{
    uint32_t base = 0;
    const std::string bits = s.substr(slash + 1);
    if (!dottedAddress(s.substr(0, slash), &base) || !allDigits(bits) || bits.size() > 2)
        return false;
    const int n = std::stoi(bits);
    if (n > 32)
        return false;
    const uint64_t size = uint64_t(1) << (32 - n);
    const uint32_t first = n == 0 ? 0 : base & ~uint32_t(size - 1);
    // Up to /30 the first and last addresses name the network and its broadcast.
    const uint64_t skip = n <= 30 ? 1 : 0;
    if (size - 2 * skip > MaxFindAddresses - out->size())
        return false;
    for (uint64_t i = skip; i < size - skip; ++i)
        out->push_back(uint32_t(first + i));
    return true;
}

} // namespace

bool parseFindTargets(const std::string &text, FindTargets *out)
{
    FindTargets t;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == ',' || std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < text.size() && text[end] != ',' && !std::isspace(static_cast<unsigned char>(text[end])))
            ++end;
        const std::string word = text.substr(i, end - i);
        i = end;
        uint32_t address = 0;
        const size_t slash = word.find('/');
        if (slash != std::string::npos) {
            if (!subnet(word, slash, &t.addresses))
                return false;
        } else if (dottedAddress(word, &address)) {
            if (t.addresses.size() >= MaxFindAddresses)
                return false;
            t.addresses.push_back(address);
        } else if (hostName(word) && t.names.size() < MaxFindNames) {
            t.names.push_back(word);
        } else {
            return false;
        }
    }
    *out = t;
    return true;
}

} // namespace visa
