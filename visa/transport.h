// One open instrument connection, whatever carries it. Each transport
// (raw socket, VXI-11, HiSLIP) fills this interface; the session table in
// session.cpp owns one per instrument session and maps VISA calls onto it.
#pragma once

#include "visa/resource.h"
#include "visa/visa.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

namespace visa {

// Where a read delivers its bytes. A transport asks for room, receives into
// it (straight from the socket where the framing allows, so the bytes are
// copied once) and then commits what arrived there.
class ReadTarget {
public:
    virtual ~ReadTarget() = default;
    // Room for up to want (> 0) more bytes; *len gets its size, 1..want.
    virtual ViByte *room(size_t want, size_t *len) = 0;
    // The first n bytes of the last room() belong to the read. VI_SUCCESS,
    // or the status that ends the read (a file that cannot be written).
    virtual ViStatus commit(size_t n) = 0;
    // Bytes a transport already holds, all n of them, or as far as it went
    // (*taken) when the status is not VI_SUCCESS. Through room() and commit()
    // unless the target can take them as they lie.
    virtual ViStatus put(const ViByte *data, size_t n, size_t *taken);
};

inline ViStatus ReadTarget::put(const ViByte *data, size_t n, size_t *taken)
{
    *taken = 0;
    while (*taken < n) {
        size_t len = 0;
        ViByte *dst = room(n - *taken, &len);
        std::memcpy(dst, data + *taken, len);
        *taken += len;
        const ViStatus st = commit(len);
        if (st != VI_SUCCESS)
            return st;
    }
    return VI_SUCCESS;
}

// The caller's buffer.
class MemoryTarget : public ReadTarget {
public:
    explicit MemoryTarget(ViByte *buf) : next_(buf) {}
    ViByte *room(size_t want, size_t *len) override
    {
        *len = want;
        return next_;
    }
    ViStatus commit(size_t n) override
    {
        next_ += n;
        return VI_SUCCESS;
    }

private:
    ViByte *next_;
};

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
    // VI_ERROR_CONN_LOST, or what the target's commit() returned. *ret counts
    // the bytes committed. timeoutMs bounds the whole read, also while bytes
    // keep arriving.
    virtual ViStatus read(ReadTarget &to, ViUInt32 cnt, ViUInt32 *ret, ViUInt32 timeoutMs) = 0;

    ViStatus read(ViByte *buf, ViUInt32 cnt, ViUInt32 *ret, ViUInt32 timeoutMs)
    {
        MemoryTarget to(buf);
        return read(to, cnt, ret, timeoutMs);
    }

    // Go to local (viGpibControlREN mode VI_GPIB_REN_ADDRESS_GTL).
    virtual ViStatus gotoLocal(ViUInt32 timeoutMs) = 0;

    // Device clear (viClear): the instrument drops its input and output
    // and the connection is back in step. VI_ERROR_NSUP_OPER where the
    // transport has none.
    virtual ViStatus clear(ViUInt32 timeoutMs)
    {
        (void)timeoutMs;
        return VI_ERROR_NSUP_OPER;
    }

    // The instrument's status byte (viReadSTB).
    virtual ViStatus readStb(ViUInt16 *stb, ViUInt32 timeoutMs)
    {
        (void)stb;
        (void)timeoutMs;
        return VI_ERROR_NSUP_OPER;
    }

    // What the instrument itself said about the failure of the last call,
    // when that call returned status because of it; empty otherwise.
    virtual std::string failureText(ViStatus status) const
    {
        (void)status;
        return std::string();
    }

    // Orderly end of the connection (destroy_link for VXI-11). The object is
    // destroyed right after.
    virtual ViStatus close() = 0;
};

// Opens a transport for a parsed resource. openTimeoutMs bounds name
// resolution, connect and any link set-up. On failure returns nullptr and
// sets *status: VI_ERROR_RSRC_NFOUND for a host that cannot be reached or
// has no such device, VI_ERROR_MACHINE_NAVAIL for a host that refused the
// port the resource string implies (the socket's port; for VXI-11 an
// explicit core-channel port, else the portmapper's 111), VI_ERROR_TMO for
// one that took the connection but did not answer in time.
std::unique_ptr<Transport> openSocketTransport(const Resource &rsrc, ViUInt32 openTimeoutMs, ViStatus *status);
std::unique_ptr<Transport> openVxi11Transport(const Resource &rsrc, ViUInt32 openTimeoutMs, ViStatus *status);
// Also VI_ERROR_RSRC_BUSY: the server takes no more clients.
std::unique_ptr<Transport> openHislipTransport(const Resource &rsrc, ViUInt32 openTimeoutMs, ViStatus *status);

} // namespace visa
