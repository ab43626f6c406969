// Program messages to the simulated instruments, as a transport hands them
// over: the oscilloscope of either command set, the spectrum analyzer and
// the video analyzer, each keeping its state from one message to the next
// within an input (a fresh bench per input). However many queries a message
// holds, the response stays within its bound.
//
// Input: 1 byte picking the instrument, then messages separated by line feeds.
#include "fuzz/fuzzcheck.h"
#include "sim/bench.h"
#include "sim/endpoint.h"

#include <cstddef>
#include <cstdint>

using namespace benchsim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > (1u << 20))
        return 0;
    Scenario scenario;
    if (data[0] & 4)
        scenario.oscType = QStringLiteral("Benlo");
    Bench bench(scenario);
    static const char *const names[] = {"osc", "sa", "va"};
    Endpoint *instrument = bench.endpoint(QLatin1String(names[data[0] % 3]));
    const QByteArray text(reinterpret_cast<const char *>(data + 1), int(size - 1));
    for (const QByteArray &message : text.split('\n')) {
        const Response r = instrument->handle(message);
        FUZZ_CHECK(r.bytes.size() <= MaxResponseBytes + 1);
        FUZZ_CHECK(r.delayMs >= 0);
    }
    return 0;
}
