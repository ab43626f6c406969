// A run written as it goes and finished from its journal: what recovery
// makes of a journal is what the run itself would have written (results
// file and delay table to the byte, the record apart from how it ended);
// torn, cut, garbled and duplicated lines and missing or short trace files
// are recovered as far as they are whole; stamps are never shared, also by
// writers starting at once; a measurement's traces load back from its files.
#include "measurement/delaycalc.h"
#include "measurement/measrun.h"
#include "measurement/resultsfile.h"
#include "measurement/runjournal.h"
#include "measurement/runjson.h"
#include "measurement/runrecovery.h"
#include "measurement/runwriter.h"
#include "measurement/tracefiles.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>
#include <memory>
#include <thread>

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
const QDateTime Start = QDateTime::fromString(QStringLiteral("2026-03-01T14:05:09.250+01:00"), Qt::ISODateWithMs);

QVector<double> Ramp(int n, double from)
{
    QVector<double> d(n);
    for (int i = 0; i < n; ++i)
        d[i] = from + i * 1e-3;
    return d;
}

// Six measurements with every kind of gap: the RF trace of the third not
// read (an empty trace), no sink edge in the fifth, the HDMI reading
// missing in the fourth; two retakes before the second and one after the
// last (the run ended on it).
RunOutcome MadeUpRun(bool hdmi)
{
    RunOutcome o;
    RunRecord &run = o.record;
    run.requested = 8;
    run.started = Start;
    run.label = QStringLiteral("nightly 7");
    run.saIdentity = QStringLiteral("Benchsim,SA-ZS1,000101,1.0");
    run.settings.osIp = QStringLiteral("TCPIP::127.0.0.1::5025::SOCKET");
    run.settings.osType = 1;
    run.settings.trgLevel = 0.035;
    run.settings.hdmi = hdmi;
    run.settings.vaIp = QStringLiteral("TCPIP::127.0.0.1::5027::SOCKET");
    run.settings.saveData = true;
    // Taken off the corrected delays: the record's and the table's must survive recovery.
    run.calibration.loaded = true;
    run.calibration.name = QStringLiteral("bench A");
    run.calibration.date = QStringLiteral("2026-03-01");
    run.calibration.of(DelayPath::Src2Snk) = PathCalibration{true, 0.4375, 0.01, QStringLiteral("photodiode")};
    for (int k = 1; k <= 6; ++k) {
        if (k == 2)
            for (int r = 0; r < 2; ++r)
                run.retakes.append(Retake{2, RetakeReason::OutsideWindow, QStringLiteral("first sample 0.502 V")});
        Measurement m;
        m.index = k;
        m.acquired = Start.addMSecs(431 * k);
        m.retakenBefore = k == 2 ? 2 : 0;
        m.src2Rf = 40.0 + k / 7.0;
        m.src2Snk = 120.0 - k / 3.0;
        m.tsrc = 1.5e-4;
        m.trf = m.src2Rf / 1000;
        m.tsnk = m.src2Snk / 1000;
        m.hdGap = hdmi ? DelayGap::None : DelayGap::NotMeasured;
        m.src2Hd = hdmi ? 35.5 + k / 10.0 : 0.0;
        if (hdmi) {
            m.hdmi.statusRead = m.hdmi.countRead = m.hdmi.valueRead = true;
            m.hdmi.status = 1;
            m.hdmi.count = 10;
            m.hdmi.value = m.src2Hd;
        }
        m.fine.src = FineEdge{m.tsrc + 2e-6, 3e-5, 1e-6 * k, 0.002};
        m.fine.rf = FineEdge{m.trf + 1e-6, 2.5e-5, 2e-6, 0.004};
        m.fine.snk = FineEdge{m.tsnk - 1e-6, 3e-5, 1.5e-6, 0.002};
        m.traces = KeptTraces{50, Ramp(50, k), Ramp(50, -k), Ramp(50, 0.1 * k)};
        if (k == 3) {
            m.src2Rf = m.trf = NaN;
            m.fine.rf = FineEdge();
            m.rfGap = DelayGap::TraceNotRead;
            m.traces.rf.clear();
        }
        if (k == 4 && hdmi) {
            m.src2Hd = NaN;
            m.hdGap = DelayGap::NoReading;
            m.hdmi.valueRead = false;
            m.hdmi.value = 0;
        }
        if (k == 5) {
            m.src2Snk = m.tsnk = NaN;
            m.fine.snk = FineEdge();
            m.snkGap = DelayGap::EdgeNotFound;
        }
        run.measurements.append(m);
    }
    run.retakes.append(Retake{7, RetakeReason::NoNewTrace, QStringLiteral("*TRG;*OPC? (oscilloscope): time-out")});
    run.end = RunEnd::Rejected;
    run.endReason = QStringLiteral("20 acquisitions in a row were rejected");
    run.ended = Start.addSecs(5);
    SetTraceAxis(&run, 50, OscTypeOf(1));
    o.avgSrc2Rf = FiniteMean(run.Src2RfArr());
    o.avgSrc2Hd = FiniteMean(run.Src2HdArr());
    o.avgSrc2Snk = FiniteMean(run.Src2SnkArr());
    return o;
}

QByteArray Read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing " + path.toUtf8() + ">");
}

void Write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size(), qPrintable(path));
}

// The record without what only says how the run ended and was finished.
QJsonObject Comparable(const QByteArray &json)
{
    QJsonObject o = QJsonDocument::fromJson(json).object();
    for (const char *key : {"end", "ended", "recovered"})
        o.remove(QLatin1String(key));
    return o;
}

QStringList Names(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

const QString LabelPart = QStringLiteral("nightly-7_");

// Writes a whole run as a run does, and copies its folder as it stood just
// before finish(): what a crash at that moment leaves (with the end line,
// a crash while the results were being written).
struct WrittenRun
{
    QString stamp, folder, crash;
    QString journal() const { return crash + QStringLiteral("/prog") + stamp + QLatin1String(RunJournalSuffix); }
};

WrittenRun WriteWithCrashCopy(RunOutcome o, const QString &root, bool withTraces, bool endLine)
{
    WrittenRun w;
    w.folder = root + QStringLiteral("/run");
    w.crash = root + QStringLiteral("/crash");
    QDir().mkpath(w.crash);
    RunWriter writer;
    if (!writer.begin(w.folder + QStringLiteral("/prog"), LabelPart, o.record, withTraces))
        return w;
    w.stamp = writer.stamp();
    int retake = 0;
    for (Measurement &m : o.record.measurements) {
        for (; retake < o.record.retakes.size() && o.record.retakes[retake].forMeasurement <= m.index; ++retake)
            writer.retaken(o.record.retakes[retake]);
        writer.kept(m, m.traces);
    }
    for (; retake < o.record.retakes.size(); ++retake)
        writer.retaken(o.record.retakes[retake]);
    for (const QString &name : Names(w.folder))
        QFile::copy(w.folder + '/' + name, w.crash + '/' + name);
    if (endLine)
        Write(w.journal(), Read(w.journal()) + JournalEndLine(o.record));
    writer.finish(o);
    return w;
}

} // namespace

class TestRunJournal : public QObject
{
    Q_OBJECT

private slots:
    void recoveredAsWritten_data();
    void recoveredAsWritten();
    void damagedJournal_data();
    void damagedJournal();
    void stampsNeverShared();
    void liveRunsAreLeftAlone();
    void tracesLoadFromFiles();
};

void TestRunJournal::recoveredAsWritten_data()
{
    QTest::addColumn<bool>("withTraces");
    QTest::addColumn<bool>("hdmi");
    QTest::addColumn<bool>("endLine");
    QTest::newRow("traces, HDMI, killed mid-run") << true << true << false;
    QTest::newRow("no traces, no HDMI, killed mid-run") << false << false << false;
    QTest::newRow("traces, killed while writing the results") << true << false << true;
}

// The run's own files and those recovery makes from the folder a crash left
// agree: recovery loses nothing the journal holds.
void TestRunJournal::recoveredAsWritten()
{
    QFETCH(bool, withTraces);
    QFETCH(bool, hdmi);
    QFETCH(bool, endLine);
    QTemporaryDir root;
    const RunOutcome o = MadeUpRun(hdmi);
    const WrittenRun w = WriteWithCrashCopy(o, root.path(), withTraces, endLine);
    QCOMPARE(w.stamp, QStringLiteral("2026-03-01_14-05-09_nightly-7_"));
    const QStringList written = Names(w.folder);
    QCOMPARE(written.size(), 3 + (withTraces ? 18 : 0)); // the journal is gone

    const RecoveredRun r = RecoverRun(w.journal());
    QCOMPARE(int(r.state), int(RecoveredRun::State::Finished));
    QVERIFY2(r.ok(), qPrintable(r.files.problems().join('\n')));
    QCOMPARE(Names(w.crash), written);
    for (const QString &name : written) {
        if (name.endsWith("Run.json"))
            QCOMPARE(Comparable(Read(w.crash + '/' + name)), Comparable(Read(w.folder + '/' + name)));
        else
            QVERIFY2(Read(w.crash + '/' + name) == Read(w.folder + '/' + name), qPrintable(name));
    }

    // How it ended: the end line's word, else interrupted at its last measurement.
    const QJsonObject record =
        QJsonDocument::fromJson(Read(RunRecordFileName(w.crash + "/prog", w.stamp))).object();
    const QJsonObject end = record.value("end").toObject();
    QCOMPARE(end.value("state").toString(), endLine ? QStringLiteral("rejected") : QStringLiteral("interrupted"));
    QCOMPARE(record.value("ended").toString(), RunRecordTime(endLine ? o.record.ended : o.record.measurements.last().acquired));
    const QJsonObject recovered = record.value("recovered").toObject();
    QVERIFY(ParseRunRecordTime(recovered.value("time").toString()).isValid());
    QCOMPARE(recovered.value("unreadableLines").toInt(-1), 0);
    QCOMPARE(recovered.value("traceFilesLost").toInt(-1), 0);
    QVERIFY(QJsonDocument::fromJson(Read(RunRecordFileName(w.folder + "/prog", w.stamp))).object().value("recovered").isNull());
    QCOMPARE(RecoveredRunText(r), QStringLiteral("Finished %1 from its journal: %2")
                                      .arg(QDir::toNativeSeparators(ResultsFileName(w.crash + "/prog", w.stamp)),
                                           endLine ? "Stopped after 6 of 8 measurements: 20 acquisitions in a row were rejected; 3 acquisitions taken again (2 first sample outside the window, 1 no new trace)"
                                                   : "Interrupted after 6 of 8 measurements; 3 acquisitions taken again (2 first sample outside the window, 1 no new trace)"));
}

void TestRunJournal::damagedJournal_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QList<int>>("kept"); // the measurements recovered
    QTest::addColumn<int>("unreadable");
    QTest::addColumn<int>("lost");

    const QList<int> all{1, 2, 3, 4, 5, 6};
    QTest::newRow("last line cut mid-line") << "torn" << QList<int>{1, 2, 3, 4, 5} << 1 << 0;
    QTest::newRow("only the first line") << "head" << QList<int>{} << 0 << 0;
    QTest::newRow("garbage for the third") << "garbage" << QList<int>{1, 2, 4, 5, 6} << 1 << 0;
    QTest::newRow("the fourth twice") << "duplicate" << all << 1 << 0;
    QTest::newRow("a trace file missing") << "missing" << all << 0 << 1;
    QTest::newRow("a trace file cut short") << "short" << all << 0 << 1;
    QTest::newRow("a trace name not the run's") << "foreign" << all << 0 << 1;
    QTest::newRow("a write the program did not complete") << "partial" << all << 0 << 0;
}

// A journal is recovered as far as it is whole: a measurement is there once
// or not at all, its files only where they are as long as written, and
// nothing half-written stays behind.
void TestRunJournal::damagedJournal()
{
    QFETCH(QString, damage);
    QFETCH(QList<int>, kept);
    QFETCH(int, unreadable);
    QFETCH(int, lost);
    QTemporaryDir root;
    const WrittenRun w = WriteWithCrashCopy(MadeUpRun(true), root.path(), true, false);
    const QString dataDir = w.crash + QStringLiteral("/prog");
    QList<QByteArray> lines = Read(w.journal()).split('\n');
    QCOMPARE(lines.takeLast(), QByteArray()); // the final line feed
    QCOMPARE(lines.size(), 1 + 6 + 3);        // run, measurements, retakes
    auto lineOf = [&lines](int index) {
        for (int i = 0; i < lines.size(); ++i)
            if (lines[i].contains("\"index\":" + QByteArray::number(index) + ','))
                return i;
        return -1;
    };
    QByteArray journal;
    auto join = [&lines] { return lines.join('\n') + '\n'; };
    if (damage == "torn") {
        // The program died writing the sixth measurement's line.
        const int torn = lineOf(6);
        journal = lines.mid(0, torn).join('\n') + '\n' + lines[torn].left(lines[torn].size() / 2);
    } else if (damage == "head") {
        journal = lines.first() + '\n';
    } else if (damage == "garbage") {
        lines[lineOf(3)] = QByteArray("\x00\x01{\"measurement\":{\"index\":3", 28);
        journal = join();
    } else if (damage == "duplicate") {
        lines.insert(lineOf(4) + 1, lines[lineOf(4)]);
        journal = join();
    } else if (damage == "foreign") {
        lines[lineOf(1)].replace("prog2026-03-01_14-05-09_nightly-7_001_src.bin", "../../run/prog2026-03-01_14-05-09_nightly-7_001_src.bin");
        journal = join();
    } else {
        journal = join();
    }
    Write(w.journal(), journal);
    if (damage == "missing")
        QVERIFY(QFile::remove(TraceFileName(dataDir, w.stamp, 2, TraceKind::Source)));
    if (damage == "short")
        QVERIFY(QFile::resize(TraceFileName(dataDir, w.stamp, 5, TraceKind::Sink), 17));
    if (damage == "partial")
        Write(ResultsFileName(dataDir, w.stamp) + ".Ab3dEf", "Source2RF Delay: 1");

    const RecoveredRun r = RecoverRun(w.journal());
    QCOMPARE(int(r.state), int(RecoveredRun::State::Finished));
    QVERIFY2(r.files.ok(), qPrintable(r.files.problems().join('\n')));
    QList<int> indices;
    for (const Measurement &m : r.run.measurements)
        indices << m.index;
    QCOMPARE(indices, kept);
    QCOMPARE(r.run.recovery.unreadableLines, unreadable);
    QCOMPARE(r.run.recovery.traceFilesLost, lost);

    // The files say the same: one row, one value, one trace triple per
    // measurement kept, and no other file of the run.
    const QList<QByteArray> results = Read(ResultsFileName(dataDir, w.stamp)).split('\n');
    QCOMPARE(results.size(), 6);
    QCOMPARE(results[4].count(' ') - 1, kept.size());
    QCOMPARE(Read(DelaysCsvFileName(dataDir, w.stamp)).count("\r\n"), 1 + kept.size());
    QStringList traces = QDir(w.crash).entryList({"*.bin"}, QDir::Files, QDir::Name);
    QCOMPARE(traces.size(), 3 * kept.size() - lost);
    for (const QString &name : traces) {
        const int index = name.mid(name.lastIndexOf('_') - 3, 3).toInt();
        QVERIFY2(kept.contains(index), qPrintable(name));
    }
    QCOMPARE(QDir(w.crash).entryList({"*.??????"}, QDir::Files), QStringList());
    QVERIFY(!QFile::exists(w.journal()));
    QVERIFY(QFile::exists(root.path() + "/run/prog" + w.stamp + "001_src.bin")); // nothing outside the folder
    const QJsonObject record = QJsonDocument::fromJson(Read(RunRecordFileName(dataDir, w.stamp))).object();
    QCOMPARE(record.value("kept").toInt(), kept.size());
    if (damage == "missing" || damage == "foreign") {
        const int index = damage == "missing" ? 2 : 1;
        const QJsonObject files =
            record.value("measurements").toArray()[index - 1].toObject().value("traceFiles").toObject();
        QVERIFY(files.value("source").isNull());
        QCOMPARE(files.value("sink").toString(), QFileInfo(TraceFileName(dataDir, w.stamp, index, TraceKind::Sink)).fileName());
    }
}

// Every run gets a stamp of its own: the next second while one is taken,
// by a finished run's file or by a run starting at the same moment.
void TestRunJournal::stampsNeverShared()
{
    QTemporaryDir root;
    const QString dataDir = root.filePath("prog");
    RunRecord head;
    head.requested = 1;
    head.started = Start;
    Write(root.filePath("prog" + RunStamp(Start) + "Results.txt"), "an earlier run's");

    std::vector<std::unique_ptr<RunWriter>> writers;
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        writers.push_back(std::make_unique<RunWriter>());
    for (auto &w : writers)
        threads.emplace_back([&w, &dataDir, &head] { w->begin(dataDir, QString(), head, false); });
    for (std::thread &t : threads)
        t.join();
    QSet<QString> stamps;
    for (auto &w : writers) {
        QVERIFY2(w->begun(), qPrintable(w->error()));
        stamps << w->stamp();
    }
    QCOMPARE(stamps.size(), 8);
    for (int k = 1; k <= 8; ++k)
        QVERIFY(stamps.contains(RunStamp(Start.addSecs(k))));
    QCOMPARE(Read(root.filePath("prog" + RunStamp(Start) + "Results.txt")), QByteArray("an earlier run's"));

    // A label is part of the stamp, so a labelled run of the same second is free.
    RunWriter labelled;
    QVERIFY(labelled.begin(dataDir, LabelPart, head, false));
    QCOMPARE(labelled.stamp(), RunStamp(Start) + LabelPart);
}

// A run that is still being written is nobody else's to finish; once its
// program is gone, it is.
void TestRunJournal::liveRunsAreLeftAlone()
{
    QTemporaryDir root;
    RunOutcome o = MadeUpRun(false);
    auto writer = std::make_unique<RunWriter>();
    QVERIFY(writer->begin(root.filePath("prog"), QString(), o.record, false));
    writer->kept(o.record.measurements[0], KeptTraces());
    const QString journal = writer->journalFile();

    QCOMPARE(UnfinishedRuns(root.path()), QStringList());
    QCOMPARE(int(RecoverRun(journal).state), int(RecoveredRun::State::Live));
    QVERIFY(QFile::exists(journal));

    writer.reset(); // as if its program had died: the system lets go of the lock
    QCOMPARE(UnfinishedRuns(root.path()), QStringList{journal});
    QCOMPARE(UnfinishedRuns(root.path(), "other"), QStringList());
    const QVector<RecoveredRun> runs = RecoverRuns(root.path(), "prog");
    QCOMPARE(runs.size(), 1);
    QCOMPARE(runs[0].run.measurements.size(), 1);
    QCOMPARE(UnfinishedRuns(root.path()), QStringList());
}

// The traces of any measurement come back from its files, bit for bit; a
// trace not read is empty, a file gone is an error naming it.
void TestRunJournal::tracesLoadFromFiles()
{
    QTemporaryDir root;
    RunOutcome o = MadeUpRun(false);
    RunWriter writer;
    QVERIFY(writer.begin(root.filePath("prog"), QString(), o.record, true));
    for (Measurement &m : o.record.measurements)
        writer.kept(m, m.traces);
    QVERIFY(writer.finish(o).ok());
    RunRecord run = o.record;
    run.filesAt = writer.filesAt();
    for (Measurement &m : run.measurements)
        m.traces = KeptTraces(); // as a run keeps them

    MeasurementTraces t;
    QString error;
    QVERIFY2(LoadMeasurementTraces(run, 3, &t, &error), qPrintable(error));
    QCOMPARE(t.traces.count, 50);
    QCOMPARE(t.t, BuildTimeAxis(50, OscTypeOf(1)));
    QCOMPARE(t.traces.src, o.record.measurements[2].traces.src);
    QVERIFY(t.traces.rf.isEmpty());
    QCOMPARE(t.traces.snk, o.record.measurements[2].traces.snk);

    QVERIFY(QFile::remove(MeasurementTracePaths(run, 2).value(2)));
    QVERIFY(!LoadMeasurementTraces(run, 2, &t, &error));
    QVERIFY2(error.contains("_002_snk.bin"), qPrintable(error));
    QVERIFY(!LoadMeasurementTraces(run, 9, &t, &error));
    run.measurements[0].traceFiles = 0; // none written for it
    QVERIFY(!LoadMeasurementTraces(run, 1, &t, &error));
    QCOMPARE(error, QStringLiteral("the trace files of measurement 1 were not written"));
    for (Measurement &m : run.measurements)
        m.traceFiles = 0; // Save Data off
    QVERIFY(!RunWroteTraceFiles(run));
}

QTEST_GUILESS_MAIN(TestRunJournal)
#include "tst_runjournal.moc"
