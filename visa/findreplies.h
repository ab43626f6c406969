// What a search for LAN instruments sends, and what the answers say: a
// portmapper's reply to the GETPORT call for the VXI-11 core channel, and an
// mDNS response naming instrument services. Plain functions over bytes that
// anything on the network may have sent.
#pragma once

#include "visa/mdns.h"
#include "visa/oncrpc.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace visa {

// Portmapper version 2 GETPORT for the core channel over TCP: a host whose
// portmapper knows it is a VXI-11 instrument.
oncrpc::Bytes coreChannelQuery(uint32_t xid);
// True for an accepted, successful reply to xid naming a port other than 0.
bool coreChannelAnswered(const uint8_t *data, size_t len, uint32_t xid);

// A one-shot mDNS query (RFC 6762, 5.1): one PTR question per service type
// of LanServiceTypes, answers asked for by unicast.
mdns::Bytes lanServicesQuery(uint16_t id);

// The resource strings an mDNS response names, each once: every PTR record
// of a known service type leads to its instance, whose SRV record gives
// host and port and the host's A record the address. Without an SRV record
// the service's registered port at the responder's address (sourceIp) is
// taken, without an A record the responder's address. Nothing for a
// message that is not a well-formed response.
std::vector<std::string> resourcesInMdnsResponse(const uint8_t *data, size_t len, const std::string &sourceIp);

} // namespace visa
