// A calibration file as the window, --calibration and --calibrate read it.
#include "fuzz/fuzzcheck.h"
#include "measurement/calibration.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    Calibration c;
    QString error;
    if (!ParseCalibration(text, &c, &error)) {
        FUZZ_CHECK(!error.isEmpty() && !c.loaded);
        return 0;
    }
    // What is accepted lies within the bounds, and writes back to itself.
    FUZZ_CHECK(c.loaded && error.isEmpty());
    FUZZ_CHECK(std::isfinite(c.timeBasePpm) && c.timeBasePpm >= 0 && c.timeBasePpm <= MaxTimeBasePpm);
    FUZZ_CHECK(c.name.size() <= MaxCalibrationName && c.measuredWith.size() <= MaxCalibrationText);
    for (const DelayPathInfo &p : DelayPaths) {
        const PathCalibration &pc = c.of(p.path);
        FUZZ_CHECK(std::fabs(pc.offsetMs) <= MaxCalibrationOffsetMs);
        FUZZ_CHECK(pc.uncertaintyMs >= 0 && pc.uncertaintyMs <= MaxCalibrationUncertaintyMs);
    }
    Calibration again;
    FUZZ_CHECK(ParseCalibration(CalibrationJson(c), &again, &error));
    FUZZ_CHECK(CalibrationJson(again) == CalibrationJson(c));
    return 0;
}
