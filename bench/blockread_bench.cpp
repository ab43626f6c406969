// Times a 20000-point CHAN1:DATA? block read through our VISA library from an
// in-process simulated bench, the way the application reads it: write the
// query, read the 2-byte header, the length digits, then spool the data and
// its terminator to a file with viReadToFile. Also times one "*OPC?" round trip.
//
// Usage: blockread_bench [iterations]   (default 200)
#include "sim/bench.h"
#include "visa/visa.h"

#include <QByteArray>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

void report(const char *what, std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    double sum = 0;
    for (double x : v)
        sum += x;
    printf("%-34s n=%zu  median %.3f ms  mean %.3f ms  min %.3f ms  max %.3f ms\n", what, v.size(), v[v.size() / 2],
           sum / v.size(), v.front(), v.back());
}

bool readBlock(ViSession vi, const char *file)
{
    static const char cmd[] = "CHAN1:DATA?\n";
    if (viWrite(vi, reinterpret_cast<ViConstBuf>(cmd), ViUInt32(strlen(cmd)), VI_NULL) != VI_SUCCESS)
        return false;
    ViByte head[100];
    ViUInt32 got = 0;
    if (viRead(vi, head, 2, &got) < 0 || got != 2 || head[0] != '#')
        return false;
    const int n = head[1] - '0';
    if (viRead(vi, head, ViUInt32(n), &got) < 0 || got != ViUInt32(n))
        return false;
    const ViUInt32 count = ViUInt32(atol(QByteArray(reinterpret_cast<char *>(head), n).constData()));
    return viReadToFile(vi, file, count + 10, &got) >= 0 && got == count + 1;
}

} // namespace

int main(int argc, char **argv)
{
    const int iterations = argc > 1 ? atoi(argv[1]) : 200;
    benchsim::Bench bench{benchsim::Scenario()};
    QString error;
    if (!bench.start(&error)) {
        fprintf(stderr, "bench: %s\n", qPrintable(error));
        return 1;
    }
    QTemporaryDir dir;
    const QByteArray file = dir.filePath(QStringLiteral("Trace.tmp")).toLocal8Bit();
    ViSession rm = 0, vi = 0;
    if (viOpenDefaultRM(&rm) != VI_SUCCESS
        || viOpen(rm, bench.resource(QStringLiteral("osc")).toLatin1().constData(), VI_NULL, 10000, &vi)
               != VI_SUCCESS) {
        fprintf(stderr, "cannot open the simulated oscilloscope\n");
        return 1;
    }
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, 5000);
    char reply[20001];
    if (viQueryf(vi, "ACQ:POIN 20000;FORM REAL,32;*TRG;*OPC?\n", "%20000c", reply) != VI_SUCCESS) {
        fprintf(stderr, "set-up failed\n");
        return 1;
    }

    std::vector<double> opc, block;
    for (int i = 0; i < iterations; ++i) {
        auto t0 = Clock::now();
        if (viQueryf(vi, "*OPC?\n", "%20000c", reply) != VI_SUCCESS)
            return 1;
        auto t1 = Clock::now();
        if (!readBlock(vi, file.constData())) {
            fprintf(stderr, "block read %d failed\n", i);
            return 1;
        }
        auto t2 = Clock::now();
        opc.push_back(ms(t1 - t0));
        block.push_back(ms(t2 - t1));
    }
    report("our VISA: *OPC? round trip", opc);
    report("our VISA: 20000-point block to file", block);
    viClose(vi);
    viClose(rm);
    bench.stop();
    return 0;
}
