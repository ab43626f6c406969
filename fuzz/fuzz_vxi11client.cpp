// Our VXI-11 client through the public VISA calls, against a core channel
// whose replies are the input: ONC RPC record marking, reply headers and
// the VXI-11 results of create_link, device_write, device_read,
// device_local and destroy_link, however broken, late or out of step.
//
// Input: 1 byte number of calls after viOpen, 3 bytes per call (kind, two
// bytes count), then replies: 1 control byte, 2 bytes length, the message.
// Control bit 0: the message's first word becomes the transaction id of
// call k = bits 1-3 (0 is create_link); bit 4: sent as raw bytes, without
// a record mark. All replies go out once the first call is in, then the
// channel closes its sending side, so no call waits for its time-out.
#include "fuzz/fuzzcheck.h"
#include "fuzz/loopbackpeer.h"
#include "visa/visa.h"

#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

LoopbackPeer *peer;
ViSession rm;
std::string resource;
std::string traceFile;

void removeTraceFile() { ::unlink(traceFile.c_str()); }

uint32_t bigEndian(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void putBigEndian(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// The byte stream of replies for a client whose first call had id xid.
std::vector<uint8_t> replies(const uint8_t *p, size_t size, uint32_t xid)
{
    std::vector<uint8_t> out;
    while (size >= 3) {
        const uint8_t ctl = p[0];
        const size_t len = std::min<size_t>(size_t(p[1]) << 8 | p[2], size - 3);
        std::vector<uint8_t> msg(p + 3, p + 3 + len);
        p += 3 + len;
        size -= 3 + len;
        if ((ctl & 1) && msg.size() >= 4)
            putBigEndian(msg.data(), xid + ((ctl >> 1) & 7));
        if (!(ctl & 16)) {
            uint8_t mark[4];
            putBigEndian(mark, 0x80000000u | uint32_t(msg.size()));
            out.insert(out.end(), mark, mark + 4);
        }
        out.insert(out.end(), msg.begin(), msg.end());
    }
    return out;
}

bool known(ViStatus s)
{
    return s == VI_SUCCESS || s == VI_SUCCESS_MAX_CNT || s == VI_SUCCESS_TERM_CHAR || s == VI_ERROR_TMO
        || s == VI_ERROR_CONN_LOST || s == VI_ERROR_IO || s == VI_ERROR_INV_FMT || s == VI_ERROR_FILE_IO
        || s == VI_ERROR_FILE_ACCESS;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    peer = new LoopbackPeer;
    resource = "TCPIP::127.0.0.1," + std::to_string(peer->port()) + "::inst0::INSTR";
    traceFile = "/tmp/quenvia-fuzz-vxi11client-" + std::to_string(::getpid()) + ".tmp";
    std::atexit(removeTraceFile);
    if (viOpenDefaultRM(&rm) != VI_SUCCESS)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t calls = data[0] % 8;
    if (size < 1 + 3 * calls)
        return 0;
    const uint8_t *ops = data + 1;
    const uint8_t *script = ops + 3 * calls;
    const size_t scriptSize = size - 1 - 3 * calls;

    peer->arm([script, scriptSize](int fd) {
        uint8_t first[8]; // create_link's record mark and transaction id
        if (LoopbackPeer::readAtLeast(fd, first, sizeof first, sizeof first) < sizeof first)
            return;
        const std::vector<uint8_t> out = replies(script, scriptSize, bigEndian(first + 4));
        LoopbackPeer::sendAll(fd, out.data(), out.size());
    });
    ViSession vi = 0;
    const ViStatus opened = viOpen(rm, resource.c_str(), VI_NULL, 2000, &vi);
    FUZZ_CHECK(opened == VI_SUCCESS || opened == VI_ERROR_RSRC_NFOUND || opened == VI_ERROR_TMO
               || opened == VI_ERROR_CONN_LOST || opened == VI_ERROR_IO);
    if (opened == VI_SUCCESS) {
        viSetAttribute(vi, VI_ATTR_TMO_VALUE, 2000);
        std::vector<ViByte> buf(65536);
        for (size_t i = 0; i < calls; ++i) {
            const ViUInt32 count = ViUInt32(ops[3 * i + 1]) << 8 | ops[3 * i + 2];
            ViUInt32 ret = 0;
            ViStatus st = VI_SUCCESS;
            switch (ops[3 * i] % 5) {
            case 0: {
                static const char cmd[] = "*IDN?\n";
                st = viWrite(vi, reinterpret_cast<ViConstBuf>(cmd), sizeof cmd - 1, &ret);
                FUZZ_CHECK(ret <= sizeof cmd - 1);
                break;
            }
            case 1:
                st = viRead(vi, buf.data(), count, &ret);
                FUZZ_CHECK(ret <= count);
                break;
            case 2: {
                ViInt32 whole = 0;
                double real = 0;
                char text[32];
                st = count % 3 == 0   ? viQueryf(vi, "MEAS?\n", "%d", &whole)
                     : count % 3 == 1 ? viQueryf(vi, "MEAS?\n", "%lf", &real)
                                      : viQueryf(vi, "*IDN?\n", "%32c", text);
                break;
            }
            case 3:
                st = viGpibControlREN(vi, VI_GPIB_REN_ADDRESS_GTL);
                break;
            default:
                st = viReadToFile(vi, traceFile.c_str(), count * 16, &ret);
                FUZZ_CHECK(ret <= count * 16);
                removeTraceFile();
                break;
            }
            FUZZ_CHECK(known(st));
        }
        viClose(vi);
    }
    peer->finish();
    return 0;
}
