// Our HiSLIP client through the public VISA calls, against a server that
// plays the opening by the rules and then answers with the input: on the
// synchronous channel a stream of messages (however broken, out of step or
// addressed to other MessageIDs), on the asynchronous channel one input
// message per request. Reads, writes, device clear, go-to-local and
// status queries in the order the input picks; each call returns a status
// it may return and never counts more bytes than it was given room for.
//
// Input: 1 byte number of calls, 3 bytes per call (kind, two bytes count),
// 1 byte opening (bit 0: the server prefers overlapped mode; bits 1-3: its
// maximum message size, 64 << n), then messages: 1 control byte, type,
// control code, 2 bytes length, the payload. Control bit 0: the parameter
// is the client's MessageID k = bits 1-3 (0 is its first); bit 4: sent as
// raw bytes, without a header; bit 5: an answer on the asynchronous
// channel, sent when a request comes in or the client has waited 50 ms
// for more. The synchronous stream goes out once the first call is in;
// each channel closes its sending side after its last message, so no call
// waits for its time-out.
#include "fuzz/fuzzcheck.h"
#include "fuzz/loopbackpeer.h"
#include "visa/hislipproto.h"
#include "visa/visa.h"

#include <cstdlib>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

LoopbackPeer *peer;
ViSession rm;
std::string resource;
std::string traceFile;

void removeTraceFile() { ::unlink(traceFile.c_str()); }

using Bytes = std::vector<uint8_t>;

struct Script {
    bool overlapped = false;
    uint64_t maxMessage = 64;
    Bytes sync;                // the synchronous channel's stream
    std::vector<Bytes> answers; // one per asynchronous request
};

Script parse(const uint8_t *p, size_t size)
{
    Script s;
    if (size == 0)
        return s;
    s.overlapped = p[0] & 1;
    s.maxMessage = uint64_t(64) << ((p[0] >> 1) & 7);
    ++p;
    --size;
    while (size >= 5) {
        const uint8_t ctl = p[0];
        const size_t len = std::min<size_t>(size_t(p[3]) << 8 | p[4], size - 5);
        const uint32_t param = (ctl & 1) ? hislip::FirstMessageId + 2 * ((ctl >> 1) & 7) : 0;
        Bytes msg = (ctl & 16) ? Bytes(p + 5, p + 5 + len) : hislip::encodeMessage(p[1], p[2], param, p + 5, len);
        p += 5 + len;
        size -= 5 + len;
        if (ctl & 32)
            s.answers.push_back(msg);
        else
            s.sync.insert(s.sync.end(), msg.begin(), msg.end());
    }
    return s;
}

// Exactly one client message: its header and up to 64 bytes of payload.
bool readMessage(int fd, hislip::Header *h)
{
    uint8_t head[hislip::HeaderSize];
    if (LoopbackPeer::readAtLeast(fd, head, sizeof head, sizeof head) < sizeof head
        || hislip::decodeHeader(head, 64, h) != hislip::HeaderStatus::Ok)
        return false;
    uint8_t payload[64];
    return h->length == 0 || LoopbackPeer::readAtLeast(fd, payload, size_t(h->length), size_t(h->length)) == h->length;
}

bool send(int fd, uint8_t type, uint8_t control, uint32_t param, const Bytes &payload = {})
{
    const Bytes m = hislip::encodeMessage(type, control, param, payload.data(), payload.size());
    return LoopbackPeer::sendAll(fd, m.data(), m.size());
}

void serve(int sync, const Script &s)
{
    hislip::Header h;
    if (!readMessage(sync, &h) || h.type != hislip::Initialize)
        return;
    send(sync, hislip::InitializeResponse, s.overlapped ? hislip::Overlapped : 0,
         uint32_t(hislip::ProtocolVersion) << 16 | 7);
    const int async = peer->acceptNext();
    if (async < 0)
        return;
    if (readMessage(async, &h) && h.type == hislip::AsyncInitialize && h.param == 7) {
        send(async, hislip::AsyncInitializeResponse, 0, 0x5858);
        if (readMessage(async, &h) && h.type == hislip::AsyncMaximumMessageSize) {
            uint8_t size[8];
            hislip::encodeU64(s.maxMessage, size);
            send(async, hislip::AsyncMaximumMessageSizeResponse, 0, 0, Bytes(size, size + 8));
        }
    }
    size_t answered = 0;
    bool syncSent = false, syncOpen = true, asyncOpen = true;
    if (s.answers.empty())
        ::shutdown(async, SHUT_WR);
    const auto answer = [&] {
        LoopbackPeer::sendAll(async, s.answers[answered].data(), s.answers[answered].size());
        if (++answered == s.answers.size())
            ::shutdown(async, SHUT_WR);
    };
    while (syncOpen || asyncOpen) {
        pollfd p[2] = {{sync, short(syncOpen ? POLLIN : 0), 0}, {async, short(asyncOpen ? POLLIN : 0), 0}};
        const bool answersLeft = asyncOpen && answered < s.answers.size();
        const int n = ::poll(p, 2, answersLeft ? 50 : 3000);
        if (n == 0 && answersLeft) {
            answer(); // the client still waits: what it got was not its answer
            continue;
        }
        if (n <= 0)
            break;
        uint8_t drop[4096];
        if (p[0].revents) {
            syncOpen = ::recv(sync, drop, sizeof drop, 0) > 0;
            if (syncOpen && !syncSent) {
                LoopbackPeer::sendAll(sync, s.sync.data(), s.sync.size());
                ::shutdown(sync, SHUT_WR);
                syncSent = true;
            }
        }
        if (p[1].revents) {
            // A request (or a piece of one): the next answer.
            asyncOpen = ::recv(async, drop, sizeof drop, 0) > 0;
            if (asyncOpen && answered < s.answers.size())
                answer();
        }
    }
    ::close(async);
}

bool known(ViStatus s)
{
    return s == VI_SUCCESS || s == VI_SUCCESS_MAX_CNT || s == VI_ERROR_TMO || s == VI_ERROR_CONN_LOST
        || s == VI_ERROR_IO || s == VI_ERROR_FILE_IO || s == VI_ERROR_FILE_ACCESS;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    peer = new LoopbackPeer;
    resource = "TCPIP::127.0.0.1::hislip0," + std::to_string(peer->port()) + "::INSTR";
    traceFile = "/tmp/quenvia-fuzz-hislipclient-" + std::to_string(::getpid()) + ".tmp";
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
    const Script script = parse(ops + 3 * calls, size - 1 - 3 * calls);

    peer->arm([&script](int fd) { serve(fd, script); });
    ViSession vi = 0;
    const ViStatus opened = viOpen(rm, resource.c_str(), VI_NULL, 2000, &vi);
    FUZZ_CHECK(opened == VI_SUCCESS);
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, 2000);
    // The first call is always a query, so that the synchronous stream flows.
    static const char query[] = "*IDN?\n";
    ViUInt32 ret = 0;
    FUZZ_CHECK(known(viWrite(vi, reinterpret_cast<ViConstBuf>(query), sizeof query - 1, &ret)));
    std::vector<ViByte> buf(65536);
    for (size_t i = 0; i < calls; ++i) {
        const ViUInt32 count = ViUInt32(ops[3 * i + 1]) << 8 | ops[3 * i + 2];
        ret = 0;
        ViStatus st = VI_SUCCESS;
        switch (ops[3 * i] % 8) {
        case 0:
            st = viWrite(vi, reinterpret_cast<ViConstBuf>(buf.data()), count % 1024, &ret);
            FUZZ_CHECK(ret <= count % 1024);
            break;
        case 1:
            st = viRead(vi, buf.data(), count, &ret);
            FUZZ_CHECK(ret <= count);
            break;
        case 2:
            st = viReadToFile(vi, traceFile.c_str(), count * 16, &ret);
            FUZZ_CHECK(ret <= count * 16);
            removeTraceFile();
            break;
        case 3:
            st = viClear(vi);
            break;
        case 4:
            st = viGpibControlREN(vi, VI_GPIB_REN_ADDRESS_GTL);
            break;
        case 5: {
            ViUInt16 stb = 0;
            st = viReadSTB(vi, &stb);
            break;
        }
        case 6: {
            char text[32];
            st = viQueryf(vi, "*IDN?\n", "%32c", text);
            break;
        }
        default: {
            ViChar desc[256];
            FUZZ_CHECK(viStatusDesc(vi, VI_ERROR_IO, desc) == VI_SUCCESS);
            FUZZ_CHECK(std::char_traits<char>::length(desc) < sizeof desc);
            break;
        }
        }
        FUZZ_CHECK(known(st));
    }
    viClose(vi);
    peer->finish();
    return 0;
}
