#include "measurement/runrecovery.h"

#include "instruments/osctype.h"
#include "measurement/delaycalc.h"
#include "measurement/delayscsv.h"
#include "measurement/filesync.h"
#include "measurement/measrun.h"
#include "measurement/resultsfile.h"
#include "measurement/runjournal.h"
#include "measurement/runjson.h"
#include "measurement/runstats.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/file.h>

namespace {

// A journal without a whole first line this old is what a run left that
// ended in the moment it started; younger, it may be one that is starting.
constexpr int StartingSeconds = 60;

// Holds a journal's lock for as long as it lives: no running program
// writes it, and no other recovery finishes it at the same time.
class JournalLock
{
public:
    explicit JournalLock(const QString &path) : file_(path)
    {
        locked_ = file_.open(QIODevice::ReadOnly) && ::flock(file_.handle(), LOCK_EX | LOCK_NB) == 0;
    }
    bool locked() const { return locked_; }
    QFile &file() { return file_; }

private:
    QFile file_; // closing it lets go of the lock
    bool locked_ = false;
};

// The files of this stamp a finished run does not have: a measurement's
// trace files the journal does not hold, and the temporary files of an
// atomic write the program did not complete.
void RemoveLeftovers(const QString &folder, const QString &filesAtName, const RunRecord &run)
{
    const QString head = QRegularExpression::escape(filesAtName);
    const QRegularExpression trace(QStringLiteral("^%1(\\d{3,})_(src|rf|snk)\\.bin$").arg(head));
    const QRegularExpression partial(QStringLiteral("^%1(Results\\.txt|Run\\.json|Delays\\.csv)\\.[A-Za-z0-9]{6}$").arg(head));
    QDir dir(folder);
    for (const QString &name : dir.entryList({filesAtName + QLatin1Char('*')}, QDir::Files)) {
        if (partial.match(name).hasMatch()) {
            dir.remove(name);
            continue;
        }
        const QRegularExpressionMatch m = trace.match(name);
        if (!m.hasMatch())
            continue;
        const int index = m.captured(1).toInt();
        const QString kind = m.captured(2);
        const TraceKind k = kind == QLatin1String("src") ? TraceKind::Source
                            : kind == QLatin1String("rf") ? TraceKind::Rf
                                                          : TraceKind::Sink;
        // Measurements are in index order: a binary search finds its own.
        const auto it = std::lower_bound(run.measurements.begin(), run.measurements.end(), index,
                                         [](const Measurement &x, int i) { return x.index < i; });
        const bool held = it != run.measurements.end() && it->index == index && (it->traceFiles & TraceFileBit(k));
        if (!held)
            dir.remove(name);
    }
}

} // namespace

QStringList UnfinishedRuns(const QString &folder, const QString &prefix)
{
    QStringList out;
    const QDir dir(folder);
    for (const QString &name :
         dir.entryList({prefix + QLatin1Char('*') + QLatin1String(RunJournalSuffix)}, QDir::Files, QDir::Name)) {
        const QString path = dir.filePath(name);
        if (JournalLock(path).locked())
            out << path;
    }
    return out;
}

RecoveredRun RecoverRun(const QString &journalPath)
{
    RecoveredRun r;
    r.journal = journalPath;
    JournalLock lock(journalPath);
    if (!lock.locked()) {
        r.state = lock.file().isOpen() ? RecoveredRun::State::Live : RecoveredRun::State::Unreadable;
        if (!lock.file().isOpen())
            r.error = lock.file().errorString();
        return r;
    }
    const QFileInfo info(journalPath);
    const QString folder = info.absolutePath();
    // Not even its first line: a run that is starting, or one that ended
    // in the moment it started.
    if (!lock.file().peek(MaxJournalLine).contains('\n')) {
        if (info.lastModified().secsTo(QDateTime::currentDateTime()) < StartingSeconds) {
            r.state = RecoveredRun::State::Live;
            return r;
        }
        QFile::remove(journalPath);
        r.state = RecoveredRun::State::Empty;
        return r;
    }
    RunJournal j;
    if (!ReadRunJournal(&lock.file(), info.fileName(), &j, &r.error))
        return r;
    // dataDir + stamp: the journal's name without its ending.
    const QString filesAtName = info.fileName().left(info.fileName().size() - int(qstrlen(RunJournalSuffix)));
    const QString dataDir = folder + QLatin1Char('/') + filesAtName.left(filesAtName.size() - j.stamp.size());
    RunRecord &run = j.run;
    run.filesAt = dataDir + j.stamp;
    if (QFileInfo::exists(RunRecordFileName(dataDir, j.stamp))) {
        QFile::remove(journalPath);
        r.state = RecoveredRun::State::AlreadyFinished;
        r.run = run;
        return r;
    }

    // Each trace file as long as when it was written, or it is not there.
    int kept = 0;
    const bool withTraces = j.withTraces;
    for (int i = 0; i < run.measurements.size(); ++i) {
        Measurement &m = run.measurements[i];
        const std::array<qint64, 3> &bytes = j.traceBytes[i];
        for (int k = 0; k < 3; ++k) {
            const quint8 bit = TraceFileBit(TraceKinds[k]);
            if (!(m.traceFiles & bit))
                continue;
            const QFileInfo file(TraceFileName(dataDir, j.stamp, m.index, TraceKinds[k]));
            if (file.exists() && (bytes[size_t(k)] < 0 || file.size() == bytes[size_t(k)])) {
                ++kept;
                continue;
            }
            m.traceFiles &= quint8(~bit);
        }
    }
    RemoveLeftovers(folder, filesAtName, run);

    if (!j.ended) {
        run.end = RunEnd::Interrupted;
        run.endReason = QStringLiteral("the program ended during the run; finished from its journal");
        run.ended = run.measurements.isEmpty() ? run.started : run.measurements.last().acquired;
    }
    SetTraceAxis(&run, run.recordLength, OscTypeOf(run.settings.osType));
    run.recovered = true;
    run.recovery.at = QDateTime::currentDateTime();
    run.recovery.unreadableLines = j.unreadableLines;
    run.recovery.traceFilesLost = j.namedTraceFiles - kept;

    RunOutcome outcome;
    outcome.record = run;
    outcome.avgSrc2Rf = FiniteMean(run.Src2RfArr());
    outcome.avgSrc2Hd = FiniteMean(run.Src2HdArr());
    outcome.avgSrc2Snk = FiniteMean(run.Src2SnkArr());

    RunFilesReport &files = r.files;
    files.resultsFile = ResultsFileName(dataDir, j.stamp);
    files.traceFolder = folder;
    files.journalFile = journalPath;
    r.state = RecoveredRun::State::Finished;
    r.run = run;
    if (!WriteAtomically(files.resultsFile,
                         ResultsText(run.Src2RfArr(), outcome.avgSrc2Rf, run.Src2HdArr(), outcome.avgSrc2Hd,
                                     run.Src2SnkArr(), outcome.avgSrc2Snk),
                         &files.resultsError))
        return r;
    RunFileNames names;
    names.results = QFileInfo(files.resultsFile).fileName();
    // The table again from the journal: the one on disk may hold a row the
    // journal does not, or half of one.
    files.csvFile = DelaysCsvFileName(dataDir, j.stamp);
    if (WriteAtomically(files.csvFile, DelaysCsv(run), &files.csvError))
        names.csv = QFileInfo(files.csvFile).fileName();
    files.recordFile = RunRecordFileName(dataDir, j.stamp);
    const RunStats stats = ComputeRunStats(run);
    auto element = [&run, withTraces](int i) {
        const Measurement &m = run.measurements[i];
        return MeasurementElement(m, withTraces ? TraceFileNames(run.filesAt, m) : QStringList(), run.calibration);
    };
    if (!WriteAtomically(
            files.recordFile,
            [&](QIODevice *out) { return WriteRunRecordJson(out, run, stats, j.stamp, names, element); },
            &files.recordError))
        return r;
    SyncFolder(folder);
    if (!QFile::remove(journalPath))
        files.journalError = QStringLiteral("it could not be removed");
    return r;
}

QVector<RecoveredRun> RecoverRuns(const QString &folder, const QString &prefix)
{
    QVector<RecoveredRun> out;
    for (const QString &journal : UnfinishedRuns(folder, prefix))
        out << RecoverRun(journal);
    return out;
}

QString RecoveredRunText(const RecoveredRun &r)
{
    const QString journal = QDir::toNativeSeparators(r.journal);
    switch (r.state) {
    case RecoveredRun::State::Live:
        return QStringLiteral("%1 is still being written by a run").arg(journal);
    case RecoveredRun::State::AlreadyFinished:
        return QStringLiteral("%1 was left over from a finished run and is removed").arg(journal);
    case RecoveredRun::State::Empty:
        return QStringLiteral("%1 was left by a run that ended as it started and is removed").arg(journal);
    case RecoveredRun::State::Unreadable:
        return QStringLiteral("Could not finish the run of %1: %2").arg(journal, r.error);
    case RecoveredRun::State::Finished:
        break;
    }
    if (!r.files.resultsError.isEmpty())
        return QStringLiteral("Could not finish the run of %1: %2").arg(journal, r.files.problems().join(QStringLiteral("; ")));
    QString text = QStringLiteral("Finished %1 from its journal: %2")
                       .arg(QDir::toNativeSeparators(r.files.resultsFile), RunSummary(r.run));
    if (r.run.recovery.traceFilesLost > 0)
        text += QStringLiteral("; %1 trace files missing or incomplete").arg(r.run.recovery.traceFilesLost);
    if (!r.files.ok())
        text += QStringLiteral("; ") + r.files.problems().join(QStringLiteral("; "));
    return text;
}
