// The hosts and subnets a search asks directly, besides its broadcasts:
// for instruments behind a router, or on a network that drops broadcasts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace visa {

// A search sends one datagram of each kind to every address: a subnet
// larger than this (a /20 has 4094 host addresses) is refused.
constexpr size_t MaxFindAddresses = 4096;
// Host names are looked up at the search, all at once.
constexpr size_t MaxFindNames = 16;

struct FindTargets {
    std::vector<uint32_t> addresses; // IPv4, host byte order
    std::vector<std::string> names;  // host names still to be looked up
    bool empty() const { return addresses.empty() && names.empty(); }
};

// "10.0.0.5, scope-3.lab 192.168.7.0/24": dotted IPv4 addresses, host names
// and subnets a.b.c.d/n, separated by blanks or commas; a subnet stands for
// its host addresses (without its network and broadcast addresses, up to
// /30). False, leaving *out alone, for anything else or for more than
// MaxFindAddresses addresses or MaxFindNames names in all.
bool parseFindTargets(const std::string &text, FindTargets *out);

} // namespace visa
