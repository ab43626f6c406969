// viQueryf as the application calls it, with the formats and the reply
// taken from the input: the write format is sent, the read format reads the
// instrument's answer ("%d", "%lf", "%<n>c" or whatever else the input has).
//
// Input: write format, NUL, read format, NUL, then what the instrument sends.
#include "fuzz/fuzzcheck.h"
#include "fuzz/loopbackpeer.h"
#include "visa/visa.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

LoopbackPeer *peer;
ViSession rm;
std::string resource;

constexpr size_t TargetBytes = 65536;

// viQueryf writes as many bytes as "%<n>c" says: the caller's buffer must
// hold them, so formats that name more than ours holds are not tried.
bool fitsTarget(const std::string &fmt)
{
    for (size_t i = 0; i < fmt.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(fmt[i])))
            continue;
        size_t j = i;
        unsigned long long v = 0;
        while (j < fmt.size() && std::isdigit(static_cast<unsigned char>(fmt[j])) && v <= TargetBytes)
            v = v * 10 + unsigned(fmt[j++] - '0');
        if (v > TargetBytes)
            return false;
        i = j;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    peer = new LoopbackPeer;
    resource = "TCPIP::127.0.0.1::" + std::to_string(peer->port()) + "::SOCKET";
    if (viOpenDefaultRM(&rm) != VI_SUCCESS)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    const char *end1 = static_cast<const char *>(std::memchr(text, 0, size));
    if (!end1)
        return 0;
    const char *end2 = static_cast<const char *>(std::memchr(end1 + 1, 0, size_t(text + size - end1 - 1)));
    if (!end2)
        return 0;
    const std::string writeFmt(text, end1);
    const std::string readFmt(end1 + 1, end2);
    // An empty command sends nothing, and the instrument answers no query
    // it never got: the read would only wait out its time-out.
    if (writeFmt.empty() || !fitsTarget(readFmt))
        return 0;
    const std::vector<uint8_t> answer(reinterpret_cast<const uint8_t *>(end2 + 1), data + size);

    peer->arm([&answer](int fd) {
        uint8_t first[64];
        if (LoopbackPeer::readAtLeast(fd, first, sizeof first, 1) > 0)
            LoopbackPeer::sendAll(fd, answer.data(), answer.size());
    });
    ViSession vi = 0;
    if (viOpen(rm, resource.c_str(), VI_NULL, 2000, &vi) != VI_SUCCESS)
        std::abort();
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, 2000);
    // Room for any target the formats can name: chars, a ViInt32 or a double.
    alignas(double) static ViByte target[TargetBytes + 16];
    const ViStatus status = viQueryf(vi, writeFmt.c_str(), readFmt.c_str(), target);
    FUZZ_CHECK(status == VI_SUCCESS || status == VI_SUCCESS_MAX_CNT || status == VI_ERROR_TMO
               || status == VI_ERROR_CONN_LOST || status == VI_ERROR_IO || status == VI_ERROR_INV_FMT
               || status == VI_ERROR_NSUP_FMT || status == VI_ERROR_USER_BUF || status == VI_SUCCESS_TERM_CHAR);
    viClose(vi);
    peer->finish();
    return 0;
}
