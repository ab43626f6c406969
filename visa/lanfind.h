// The search for LAN instruments behind viFindRsrc: a portmapper GETPORT
// broadcast for VXI-11 on every IPv4 interface with a broadcast address, a
// one-shot mDNS query for the instrument service types on every multicast
// interface, both also sent straight to each target, and every answer
// collected until the time-out.
#pragma once

#include "visa/findtargets.h"
#include "visa/visa.h"

#include <string>
#include <vector>

namespace visa {

// A search keeps at most this many resources: a network full of answering
// hosts cannot grow the list without end.
constexpr size_t MaxFoundResources = 1024;
// A search listens this long at most, also when asked to wait for ever.
constexpr ViUInt32 MaxFindTimeoutMs = 60000;

// The resource strings found within timeoutMs (at most MaxFindTimeoutMs;
// the call returns then, not earlier, since nobody can tell when the last
// answer has come), sorted, each once. Host names among the targets are looked up within the first
// half of the time-out; one that is not resolved by then is left out.
std::vector<std::string> findLanResources(const FindTargets &targets, ViUInt32 timeoutMs);

} // namespace visa
