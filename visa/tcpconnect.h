// A TCP connection to host:port whose name resolution and connect are both
// bounded by one time-out, for the LAN transports.
#pragma once

#include "visa/visa.h"

#include <cstdint>
#include <string>

namespace visa {

// Returns a connected, non-blocking socket with TCP_NODELAY set, or -1 with
// *status = VI_ERROR_RSRC_NFOUND (unknown host, refused, unreachable, or
// out of time). timeoutMs = VI_TMO_INFINITE waits as long as the system does.
int tcpConnect(const std::string &host, uint16_t port, ViUInt32 timeoutMs, ViStatus *status);

} // namespace visa
