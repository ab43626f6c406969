// The raw-socket read path through the public VISA calls: an instrument
// answers a query with the input's bytes, and the session reads them with
// a sequence of viRead and viReadToFile calls of the sizes the input picks,
// as the application's block reader does. However the reads are cut, they
// hand over the instrument's bytes in order, none lost and none twice.
//
// Input: 1 byte number of reads, then 3 bytes per read (kind, count high,
// count low), then what the instrument sends.
#include "fuzz/fuzzcheck.h"
#include "fuzz/loopbackpeer.h"
#include "visa/visa.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

LoopbackPeer *peer;
ViSession rm;
std::string resource;
std::string traceFile;

void removeTraceFile() { ::unlink(traceFile.c_str()); }

bool knownReadStatus(ViStatus s)
{
    return s == VI_SUCCESS || s == VI_SUCCESS_MAX_CNT || s == VI_ERROR_TMO || s == VI_ERROR_CONN_LOST
        || s == VI_ERROR_IO || s == VI_ERROR_FILE_IO || s == VI_ERROR_FILE_ACCESS;
}

// Appends what viReadToFile wrote to got.
void appendFile(std::vector<uint8_t> &got)
{
    FILE *f = std::fopen(traceFile.c_str(), "rb");
    if (!f)
        return;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        got.insert(got.end(), buf, buf + n);
    std::fclose(f);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    peer = new LoopbackPeer;
    resource = "TCPIP::127.0.0.1::" + std::to_string(peer->port()) + "::SOCKET";
    traceFile = "/tmp/quenvia-fuzz-socketread-" + std::to_string(::getpid()) + ".tmp";
    std::atexit(removeTraceFile);
    if (viOpenDefaultRM(&rm) != VI_SUCCESS)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t reads = 1 + data[0] % 8;
    if (size < 1 + 3 * reads)
        return 0;
    const uint8_t *ops = data + 1;
    const std::vector<uint8_t> answer(data + 1 + 3 * reads, data + size);

    // The instrument answers once the query's first byte is in: anything
    // sooner would be stale input that the write rightly drops.
    peer->arm([&answer](int fd) {
        uint8_t first[64];
        if (LoopbackPeer::readAtLeast(fd, first, sizeof first, 1) > 0)
            LoopbackPeer::sendAll(fd, answer.data(), answer.size());
    });
    ViSession vi = 0;
    if (viOpen(rm, resource.c_str(), VI_NULL, 2000, &vi) != VI_SUCCESS)
        std::abort();
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, 2000);
    static const char query[] = "CHAN1:DATA?\n";
    ViUInt32 sent = 0;
    FUZZ_CHECK(viWrite(vi, reinterpret_cast<ViConstBuf>(query), sizeof query - 1, &sent) == VI_SUCCESS);

    std::vector<uint8_t> got;
    std::vector<ViByte> buf(65536);
    for (size_t i = 0; i < reads; ++i) {
        const unsigned kind = ops[3 * i] % 3;
        ViUInt32 count = ViUInt32(ops[3 * i + 1]) << 8 | ops[3 * i + 2];
        ViUInt32 ret = 0;
        ViStatus status;
        if (kind == 0) {
            status = viRead(vi, buf.data(), count, &ret);
            FUZZ_CHECK(ret <= count);
            got.insert(got.end(), buf.begin(), buf.begin() + ret);
        } else if (kind == 1) {
            count = count % 16; // the block header's two bytes, then its digits
            status = viRead(vi, buf.data(), count, &ret);
            FUZZ_CHECK(ret <= count);
            got.insert(got.end(), buf.begin(), buf.begin() + ret);
        } else {
            count *= 16; // up to 1 MiB, as a block's data
            status = viReadToFile(vi, traceFile.c_str(), count, &ret);
            FUZZ_CHECK(ret <= count);
            const size_t before = got.size();
            appendFile(got);
            FUZZ_CHECK(got.size() - before == ret);
            removeTraceFile();
        }
        FUZZ_CHECK(knownReadStatus(status));
        FUZZ_CHECK(got.size() <= answer.size());
        FUZZ_CHECK(std::equal(got.begin(), got.end(), answer.begin()));
        if (status < 0)
            break;
    }
    viClose(vi);
    peer->finish();
    return 0;
}
