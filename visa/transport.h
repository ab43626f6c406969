// One open instrument connection, whatever carries it. Each transport
// (raw socket, VXI-11) fills this interface; the session table in
// session.cpp owns one per instrument session and maps VISA calls onto it.
#pragma once

#include "visa/resource.h"
#include "visa/visa.h"

#include <memory>

namespace visa {

class Transport {
public:
    virtual ~Transport() = default;

    // Sends cnt bytes as one message (END on the last byte). *ret gets the
    // number of bytes accepted. Bounded by timeoutMs.
    virtual ViStatus write(const ViByte *buf, ViUInt32 cnt, ViUInt32 *ret, ViUInt32 timeoutMs) = 0;

    // Reads at most cnt bytes of the current response message.
    // VI_SUCCESS: the message ended (END); VI_SUCCESS_MAX_CNT: cnt was reached
    // first and the rest stays for the next read; VI_SUCCESS_TERM_CHAR: stopped
    // on a termination character. Errors: VI_ERROR_TMO, VI_ERROR_IO,
    // VI_ERROR_CONN_LOST.
    virtual ViStatus read(ViByte *buf, ViUInt32 cnt, ViUInt32 *ret, ViUInt32 timeoutMs) = 0;

    // Go to local (viGpibControlREN mode VI_GPIB_REN_ADDRESS_GTL).
    virtual ViStatus gotoLocal(ViUInt32 timeoutMs) = 0;

    // Orderly end of the connection (destroy_link for VXI-11). The object is
    // destroyed right after.
    virtual ViStatus close() = 0;
};

// Opens a transport for a parsed resource. openTimeoutMs bounds name
// resolution, connect and any link set-up. On failure returns nullptr and
// sets *status (VI_ERROR_RSRC_NFOUND for a host that cannot be reached).
std::unique_ptr<Transport> openSocketTransport(const Resource &rsrc, ViUInt32 openTimeoutMs, ViStatus *status);
std::unique_ptr<Transport> openVxi11Transport(const Resource &rsrc, ViUInt32 openTimeoutMs, ViStatus *status);

} // namespace visa
