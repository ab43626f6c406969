#include "measurement/runwriter.h"

#include "measurement/delayscsv.h"
#include "measurement/resultsfile.h"
#include "measurement/runjournal.h"
#include "measurement/runjson.h"
#include "measurement/runstats.h"
#include "measurement/tracefileformat.h"

#include <QDir>
#include <QFileInfo>

#include <sys/file.h>

namespace {

// A second a try: an hour of runs started in the same second is more than
// any bench makes.
constexpr int MaxStampTries = 3600;

constexpr QIODevice::OpenMode NewFile = QIODevice::NewOnly | QIODevice::Unbuffered;

bool WriteAll(QFile &file, const QByteArray &bytes, QString *error)
{
    if (file.write(bytes) == bytes.size())
        return true;
    if (error->isEmpty())
        *error = file.errorString();
    return false;
}

// A trace file, created new; its size, or -1 with the reason.
qint64 WriteTraceFile(const QString &path, const QVector<double> &d, int count, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | NewFile)) {
        *error = file.errorString();
        return -1;
    }
    const QByteArray bytes = EncodeTrace(d, count);
    if (file.write(bytes) != bytes.size()) {
        *error = file.errorString();
        return -1;
    }
    return bytes.size();
}

QString Folder(const QString &dataDir)
{
    return QFileInfo(ResultsFileName(dataDir, QString())).absolutePath();
}

} // namespace

RunWriter::RunWriter(int syncIntervalMs) : sync_(syncIntervalMs) {}

RunWriter::~RunWriter()
{
    sync_.finish();
    release();
}

QString RunWriter::journalFile() const
{
    return RunJournalFileName(dataDir_, stamp_);
}

RunWriter::Claim RunWriter::claim(const QString &stamp)
{
    stamp_ = stamp;
    journal_.setFileName(journalFile());
    for (int attempt = 1; !journal_.open(QIODevice::ReadWrite | NewFile); ++attempt) {
        if (QFileInfo::exists(journal_.fileName()))
            return Claim::Taken;
        // A run starting at the same moment may have made this journal and
        // removed it again (the stamp was taken) between our open and our
        // look: only a failure that stays is one.
        if (attempt == 3) {
            error_ = QStringLiteral("Could not write %1: %2")
                         .arg(QDir::toNativeSeparators(journal_.fileName()), journal_.errorString());
            return Claim::Failed;
        }
    }
    // Held while the run lives: recovery leaves a locked journal alone, and
    // the system lets go of it when the process ends, however it ends. A
    // recovery that looks at the new, empty journal holds it for a moment.
    ::flock(journal_.handle(), LOCK_EX);
    // A file of this stamp from before (a finished run, or one left behind)
    // takes the stamp just the same.
    const QString taken[] = {ResultsFileName(dataDir_, stamp), RunRecordFileName(dataDir_, stamp),
                             DelaysCsvFileName(dataDir_, stamp), TraceFileName(dataDir_, stamp, 1, TraceKind::Source)};
    bool free = true;
    for (const QString &path : taken)
        free = free && !QFileInfo::exists(path);
    csv_.setFileName(DelaysCsvFileName(dataDir_, stamp));
    if (!free || !csv_.open(QIODevice::WriteOnly | NewFile)) {
        const bool csvTaken = !free || QFileInfo::exists(csv_.fileName());
        if (!csvTaken)
            error_ = QStringLiteral("Could not write %1: %2")
                         .arg(QDir::toNativeSeparators(csv_.fileName()), csv_.errorString());
        journal_.remove();
        journal_.close();
        return csvTaken ? Claim::Taken : Claim::Failed;
    }
    return Claim::Claimed;
}

bool RunWriter::begin(const QString &dataDir, const QString &labelPart, const RunRecord &head, bool withTraces)
{
    const QDateTime start = head.started.isValid() ? head.started : QDateTime::currentDateTime();
    dataDir_ = dataDir;
    withTraces_ = withTraces;
    const QString first = RunStamp(start) + labelPart;
    if (!QDir().mkpath(Folder(dataDir))) {
        stamp_ = first;
        error_ = QStringLiteral("Could not make the folder %1").arg(QDir::toNativeSeparators(Folder(dataDir)));
        return false;
    }
    for (int k = 0; k < MaxStampTries; ++k) {
        const Claim c = claim(RunStamp(start.addSecs(k)) + labelPart);
        if (c == Claim::Failed) {
            stamp_ = first;
            return false;
        }
        if (c == Claim::Claimed)
            return beginAt(dataDir, stamp_, head, withTraces);
    }
    stamp_ = first;
    error_ = QStringLiteral("Every stamp from %1 on for an hour is taken in %2")
                 .arg(first, QDir::toNativeSeparators(Folder(dataDir)));
    return false;
}

bool RunWriter::beginAt(const QString &dataDir, const QString &stamp, const RunRecord &head, bool withTraces)
{
    dataDir_ = dataDir;
    withTraces_ = withTraces;
    if (!journal_.isOpen() || stamp_ != stamp) {
        release();
        QDir().mkpath(Folder(dataDir));
        if (claim(stamp) != Claim::Claimed) {
            if (error_.isEmpty())
                error_ = QStringLiteral("The stamp %1 is taken in %2").arg(stamp, QDir::toNativeSeparators(Folder(dataDir)));
            return false;
        }
    }
    calibration_ = head.calibration;
    journal(JournalHeadLine(head, stamp_));
    if (!journalError_.isEmpty()) {
        error_ = QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(journalFile()), journalError_);
        journal_.remove();
        csv_.remove();
        release();
        return false;
    }
    WriteAll(csv_, DelaysCsvHeader(), &csvError_);
    sync_.start(Folder(dataDir), {journal_.handle(), csv_.handle()});
    begun_ = true;
    return true;
}

void RunWriter::release()
{
    journal_.close();
    csv_.close();
}

void RunWriter::journal(const QByteArray &line)
{
    if (WriteAll(journal_, line, &journalError_))
        journalSize_ += line.size();
}

void RunWriter::retaken(const Retake &r)
{
    if (begun_)
        journal(JournalRetakeLine(r));
}

void RunWriter::kept(Measurement &m, const KeptTraces &traces)
{
    if (!begun_)
        return;
    std::array<qint64, 3> bytes{-1, -1, -1};
    if (withTraces_) {
        const QVector<double> *d[] = {&traces.src, &traces.rf, &traces.snk};
        for (int k = 0; k < 3; ++k) {
            const QString path = TraceFileName(dataDir_, stamp_, m.index, TraceKinds[k]);
            QString why;
            ++traceFiles_;
            bytes[size_t(k)] = WriteTraceFile(path, *d[k], traces.count, &why);
            if (bytes[size_t(k)] < 0) {
                if (traceFailed_++ == 0)
                    traceError_ = why;
                continue;
            }
            m.traceFiles |= TraceFileBit(TraceKinds[k]);
            sync_.written(path);
        }
    }
    WriteAll(csv_, DelaysCsvRow(m, calibration_), &csvError_);
    const QByteArray element =
        MeasurementElement(m, withTraces_ ? TraceFileNames(filesAt(), m) : QStringList(), calibration_);
    int elementAt = 0;
    const QByteArray line =
        JournalMeasurementLine(element, m, traces.count, withTraces_ ? &bytes : nullptr, &elementAt);
    const qint64 lineAt = journalSize_;
    journal(line);
    elements_.emplace_back(lineAt + elementAt, element.size());
}

RunFilesReport RunWriter::finish(const RunOutcome &outcome)
{
    const RunRecord &run = outcome.record;
    RunFilesReport report;
    report.resultsFile = ResultsFileName(dataDir_, stamp_);
    report.traceFolder = Folder(dataDir_);
    report.traceFiles = traceFiles_;
    report.traceFailed = traceFailed_;
    report.traceError = traceError_;
    if (begun_) {
        report.journalFile = journalFile();
        journal(JournalEndLine(run));
        csv_.close();
    }
    // Everything the run wrote is on the disk before its results say so.
    sync_.finish();

    // Without a claimed stamp another run's file may have the name.
    if (!begun_ && QFileInfo::exists(report.resultsFile))
        report.resultsError = QStringLiteral("a file of another run has that name");
    if (!report.resultsError.isEmpty()
        || !WriteAtomically(report.resultsFile,
                            ResultsText(run.Src2RfArr(), outcome.avgSrc2Rf, run.Src2HdArr(), outcome.avgSrc2Hd,
                                        run.Src2SnkArr(), outcome.avgSrc2Snk),
                            &report.resultsError)) {
        release();
        return report;
    }

    RunFileNames names;
    names.results = QFileInfo(report.resultsFile).fileName();
    report.csvFile = DelaysCsvFileName(dataDir_, stamp_);
    // The table as the run wrote it; one that missed a row, or never got
    // started, is written again, whole.
    bool csvWhole = begun_ && csvError_.isEmpty();
    if (!csvWhole && (begun_ || !QFileInfo::exists(report.csvFile)))
        csvWhole = WriteAtomically(report.csvFile, DelaysCsv(run), &report.csvError);
    else if (!csvWhole)
        report.csvError = QStringLiteral("a file of another run has that name");
    if (csvWhole)
        names.csv = QFileInfo(report.csvFile).fileName();

    // The measurements' elements as the journal holds them, read in order
    // a megabyte at a time: a long run's record is a copy, not a hundred
    // thousand conversions, and never all in memory.
    const RunStats stats = ComputeRunStats(run);
    report.recordFile = RunRecordFileName(dataDir_, stamp_);
    const bool fromJournal =
        begun_ && journalError_.isEmpty() && elements_.size() == size_t(run.measurements.size());
    QByteArray window;
    qint64 windowAt = 0;
    const MeasurementElements elements = [&](int i) {
        if (!fromJournal) {
            const Measurement &m = run.measurements[i];
            return MeasurementElement(m, withTraces_ ? TraceFileNames(filesAt(), m) : QStringList(), calibration_);
        }
        const qint64 at = elements_[size_t(i)].first;
        const int length = elements_[size_t(i)].second;
        if (at < windowAt || at + length > windowAt + window.size()) {
            windowAt = at;
            journal_.seek(at);
            window = journal_.read(qMax(qint64(1) << 20, qint64(length)));
        }
        return QByteArray::fromRawData(window.constData() + (at - windowAt), length);
    };
    const bool recorded = !(!begun_ && QFileInfo::exists(report.recordFile))
                          && WriteAtomically(
                              report.recordFile,
                              [&](QIODevice *out) { return WriteRunRecordJson(out, run, stats, stamp_, names, elements); },
                              &report.recordError);
    if (!recorded && report.recordError.isEmpty())
        report.recordError = QStringLiteral("a file of another run has that name");

    if (begun_) {
        if (!journalError_.isEmpty()) {
            report.journalError = journalError_;
        } else if (recorded) {
            // The record's name on the disk before the journal's goes.
            SyncFolder(Folder(dataDir_));
            if (!QFile::remove(journal_.fileName()))
                report.journalError = QStringLiteral("it could not be removed");
        }
    }
    release();
    return report;
}
