// A scenario file as benchsim reads it (--scenario), and a fault as given
// on its command line (--fault).
#include "fuzz/fuzzcheck.h"
#include "sim/scenario.h"

#include <cstddef>
#include <cstdint>

using namespace benchsim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    QString error;
    const Scenario s = Scenario::fromJson(text, &error);
    // A scenario that was read without complaint is one benchsim can play.
    if (error.isEmpty()) {
        QString again;
        FUZZ_CHECK(s.validate(&again));
    }
    // A fault the command line takes is one the scenario checks accept,
    // apart from a delay beyond the hour they allow.
    Fault fault;
    QString faultError;
    if (Fault::fromOption(QString::fromUtf8(text), &fault, &faultError)) {
        Scenario withFault;
        withFault.faults.append(fault);
        QString e;
        FUZZ_CHECK(withFault.validate(&e) == (fault.delayMs <= 3600000));
    }
    return 0;
}
