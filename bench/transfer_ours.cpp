// Our VISA library as a transfer client, through its public C API only, so
// it times whatever the library does inside, today and after it changes.
//
// Usage: transfer_ours [--curv] <resource> <case> <data bytes> <repetitions> [trace file]
// Cases opc, mem, file, trg and silent (see transfer_timing.h). "file" reads
// the block as the application does: the 2-byte header, the count digits,
// then viReadToFile into the trace file (removed after each read, as the
// application removes "Trace.tmp"). "silent" times the read of a query the
// instrument never answers, with the application's default time-out of
// 2000 ms; the query's write is not timed. --curv: the independent HiSLIP
// server's commands (DATA:POIN, CURV?) instead of the simulated
// oscilloscope's (ACQ:POIN, CHAN1:DATA?).
#include "visa/visa.h"

#include "transfer_timing.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

// The block query, by server.
const char *blockQuery = "CHAN1:DATA?\n";

bool writeText(ViSession vi, const char *text)
{
    ViUInt32 sent = 0;
    return viWrite(vi, reinterpret_cast<ViConstBuf>(text), ViUInt32(std::strlen(text)), &sent) == VI_SUCCESS;
}

bool readLine(ViSession vi)
{
    ViByte line[256];
    ViUInt32 got = 0;
    return viRead(vi, line, sizeof line, &got) == VI_SUCCESS && got > 0 && line[got - 1] == '\n';
}

std::string blockHeader(size_t bytes)
{
    const std::string count = std::to_string(bytes);
    return "#" + std::to_string(count.size()) + count;
}

// Succeeds when the read gives up with a time-out, as it must.
bool readTimesOut(ViSession vi)
{
    ViByte line[256];
    ViUInt32 got = 0;
    return viRead(vi, line, sizeof line, &got) == VI_ERROR_TMO && got == 0;
}

bool readToMemory(ViSession vi, std::vector<ViByte> &buf, size_t expect)
{
    ViUInt32 got = 0;
    return writeText(vi, blockQuery) && viRead(vi, buf.data(), ViUInt32(buf.size()), &got) == VI_SUCCESS
        && got == expect;
}

bool readToFile(ViSession vi, const char *file, size_t bytes)
{
    if (!writeText(vi, blockQuery))
        return false;
    ViByte head[16];
    ViUInt32 got = 0;
    if (viRead(vi, head, 2, &got) < 0 || got != 2 || head[0] != '#' || head[1] < '1' || head[1] > '9')
        return false;
    const ViUInt32 digits = ViUInt32(head[1] - '0');
    if (viRead(vi, head, digits, &got) < 0 || got != digits)
        return false;
    const size_t count = std::strtoul(std::string(reinterpret_cast<char *>(head), digits).c_str(), nullptr, 10);
    // Ten bytes more than the data: the read ends with the message, after the line feed.
    return count == bytes && viReadToFile(vi, file, ViUInt32(count + 10), &got) == VI_SUCCESS && got == count + 1;
}

} // namespace

int main(int argc, char **argv)
{
    const bool curv = argc > 1 && std::strcmp(argv[1], "--curv") == 0;
    if (curv) {
        blockQuery = "CURV?\n";
        --argc;
        ++argv;
    }
    if (argc < 5) {
        std::fprintf(stderr, "usage: transfer_ours [--curv] <resource> " TRANSFER_USAGE "  [trace file] for file\n");
        return 2;
    }
    const std::string what = argv[2];
    const size_t bytes = std::strtoul(argv[3], nullptr, 10);
    const int reps = std::atoi(argv[4]);
    const char *file = argc > 5 ? argv[5] : "Trace.tmp";
    if (reps < 1)
        return 2;

    ViSession rm = 0, vi = 0;
    if (viOpenDefaultRM(&rm) != VI_SUCCESS || viOpen(rm, argv[1], VI_NULL, 10000, &vi) != VI_SUCCESS) {
        std::fprintf(stderr, "transfer_ours: cannot open %s\n", argv[1]);
        return 1;
    }
    // Long enough for a 20 MB block from a slow server; a hang still ends.
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, what == "silent" ? 2000 : 30000);
    if (bytes > 0) {
        const std::string points = std::to_string(bytes / 4);
        const std::string setup =
            curv ? "DATA:POIN " + points + ";*OPC?\n" : "ACQ:POIN " + points + ";FORM REAL,32;*TRG;*OPC?\n";
        if (!writeText(vi, setup.c_str()) || !readLine(vi)) {
            std::fprintf(stderr, "transfer_ours: set-up failed\n");
            return 1;
        }
    }
    const size_t message = blockHeader(bytes).size() + bytes + 1;
    std::vector<ViByte> buf(message + 64);
    std::vector<double> t(size_t(reps), 0.0);
    for (int i = 0; i < reps; ++i) {
        // The unanswered case times the read alone: its query is answered.
        const bool silentQuery = what == "silent" && writeText(vi, "*OPC?\n");
        const double t0 = transferNow();
        bool ok;
        if (what == "opc")
            ok = writeText(vi, "*OPC?\n") && readLine(vi);
        else if (what == "trg")
            ok = writeText(vi, "*TRG;*OPC?\n") && readLine(vi);
        else if (what == "mem")
            ok = readToMemory(vi, buf, message);
        else if (what == "file")
            ok = readToFile(vi, file, bytes);
        else if (what == "silent")
            ok = silentQuery && readTimesOut(vi);
        else {
            std::fprintf(stderr, "transfer_ours: no case %s\n", what.c_str());
            return 2;
        }
        t[size_t(i)] = transferNow() - t0;
        if (what == "file")
            ::unlink(file);
        if (!ok) {
            std::fprintf(stderr, "transfer_ours: %s failed at repetition %d\n", what.c_str(), i);
            return 1;
        }
    }
    transferReport(t.data(), reps);
    viClose(vi);
    viClose(rm);
    return 0;
}
