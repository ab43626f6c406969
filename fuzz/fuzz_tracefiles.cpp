// Trace files read back for the Statistics window's Traces page: three
// files of anyone's making, through LoadMeasurementTraces. The first byte
// picks the oscilloscope type, the next four where the input is cut into
// the source, RF and sink files.
#include "fuzz/fuzzcheck.h"
#include "measurement/tracefiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>

namespace {

QTemporaryDir *dir;

void removeDir()
{
    delete dir;
    dir = nullptr;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    dir = new QTemporaryDir;
    if (!dir->isValid())
        std::abort();
    std::atexit(removeDir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 5)
        return 0;
    const int type = int(int8_t(data[0]));
    const QByteArray body(reinterpret_cast<const char *>(data + 5), int(size - 5));
    const int cut1 = std::min(body.size(), int(data[1]) | int(data[2]) << 8);
    const int cut2 = std::min(body.size(), cut1 + (int(data[3]) | int(data[4]) << 8));
    const QByteArray parts[3] = {body.left(cut1), body.mid(cut1, cut2 - cut1), body.mid(cut2)};

    RunRecord run;
    run.settings.osType = type;
    run.measurements.resize(1);
    QStringList names;
    for (int i = 0; i < 3; ++i) {
        names << dir->filePath(QStringLiteral("t%1.bin").arg(i));
        QFile f(names.last());
        if (!f.open(QIODevice::WriteOnly) || f.write(parts[i]) != parts[i].size())
            std::abort();
    }
    run.traceFiles = {names};

    MeasurementTraces out;
    QString error;
    const bool ok = LoadMeasurementTraces(run, 1, &out, &error);
    FUZZ_CHECK(ok || !error.isEmpty());
    if (ok) {
        FUZZ_CHECK(out.traces.src.size() == parts[0].size() / 8);
        FUZZ_CHECK(out.traces.rf.size() == parts[1].size() / 8);
        FUZZ_CHECK(out.traces.snk.size() == parts[2].size() / 8);
        FUZZ_CHECK(out.t.size() == out.traces.src.size() && out.traces.count == out.traces.src.size());
    }
    // Asking for a measurement the run does not have is refused, not read.
    FUZZ_CHECK(!LoadMeasurementTraces(run, 2, &out, &error) && !error.isEmpty());
    return 0;
}
