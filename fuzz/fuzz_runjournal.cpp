// A run's journal as recovery finds it after a crash: whatever the input,
// the reader keeps within its bounds (measurements in order, never more
// than the run asked for), and finishing the run in a folder that holds the
// input as the journal and some of its trace files (one whole, one cut
// short, one of a measurement the journal may not hold) never crashes,
// never touches a file outside the folder, and leaves a results file of
// six lines whenever it says the run is finished.
#include "fuzzcheck.h"
#include "measurement/resultsfile.h"
#include "measurement/runjournal.h"
#include "measurement/runrecovery.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

QTemporaryDir *home;

void removeHome()
{
    delete home; // its folder and everything in it
    home = nullptr;
}

// The seeds' run: prefix "prog", this stamp.
const QString Stamp = QStringLiteral("2026-03-01_14-05-09_");

void Put(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // In memory where there is a file system for it: recovery syncs every
    // file it writes, which on a disk costs more than the rest of an input.
    const QString shm = QStringLiteral("/dev/shm");
    home = QFileInfo(shm).isWritable() ? new QTemporaryDir(shm + QStringLiteral("/fuzz_runjournal-XXXXXX"))
                                       : new QTemporaryDir;
    if (!home->isValid())
        std::abort();
    std::atexit(removeHome);
    // Outside the run's folder: recovery must never reach it.
    Put(home->filePath(QStringLiteral("outside.bin")), QByteArray(16, 'x'));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const QString name = QStringLiteral("prog") + Stamp + QLatin1String(RunJournalSuffix);

    QBuffer in;
    in.setData(bytes);
    in.open(QIODevice::ReadOnly);
    RunJournal j;
    QString error;
    if (ReadRunJournal(&in, name, &j, &error)) {
        FUZZ_CHECK(j.stamp == Stamp);
        FUZZ_CHECK(j.run.measurements.size() <= j.run.requested);
        FUZZ_CHECK(j.traceBytes.size() == j.run.measurements.size());
        int last = 0;
        for (const Measurement &m : j.run.measurements) {
            FUZZ_CHECK(m.index > last);
            last = m.index;
        }
        for (const Retake &r : j.run.retakes)
            FUZZ_CHECK(r.forMeasurement >= 1 && r.forMeasurement <= j.run.requested);
    } else {
        FUZZ_CHECK(!error.isEmpty());
    }

    QDir(home->path()).mkdir(QStringLiteral("run"));
    const QString folder = home->filePath(QStringLiteral("run"));
    const QString dataDir = folder + QStringLiteral("/prog");
    Put(folder + '/' + name, bytes);
    Put(TraceFileName(dataDir, Stamp, 1, TraceKind::Source), QByteArray(16, '\0'));
    Put(TraceFileName(dataDir, Stamp, 2, TraceKind::Rf), QByteArray(3, '\0'));
    Put(TraceFileName(dataDir, Stamp, 7, TraceKind::Sink), QByteArray(8, '\0'));
    const RecoveredRun r = RecoverRun(folder + '/' + name);
    if (r.state == RecoveredRun::State::Finished && r.files.resultsError.isEmpty()) {
        QFile results(ResultsFileName(dataDir, Stamp));
        FUZZ_CHECK(results.open(QIODevice::ReadOnly));
        FUZZ_CHECK(results.readAll().count('\n') == 5);
    }
    FUZZ_CHECK(QFile(home->filePath(QStringLiteral("outside.bin"))).size() == 16);
    FUZZ_CHECK(QDir(folder).removeRecursively());
    return 0;
}
