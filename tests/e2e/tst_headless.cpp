// The real executable without its window, started with no display and no Qt
// platform set, against the simulated bench: the same run as through the
// window's buttons, every exit status, Ctrl-C in the middle of a run, the
// comparison of two stored runs, and the SCPI console.
#include "runbench.h"

#include "app/commandline.h"
#include "app/settingsfile.h"
#include "measurement/calibration.h"
#include "measurement/runjson.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <csignal>

namespace {

struct Outcome
{
    int status = -1;
    QString out, err;
};

// The bench's resources and the scenario's choices as a settings file.
void WriteSettings(const QString &path, const benchsim::Bench &bench, bool hdmi)
{
    BenchSettings s;
    s.osIp = bench.resource("osc");
    s.saIp = bench.resource("sa");
    s.vaIp = bench.resource("va");
    s.osType = bench.scenario().isBenlo() ? 1 : 0;
    s.trgLevel = 0.035;
    s.hdmi = hdmi;
    s.saveData = true;
    QString why;
    QVERIFY2(WriteBenchSettings(path, s, &why), qPrintable(why));
}

// Every message with what came back, in arrival order.
QStringList Log(const benchsim::Bench &bench)
{
    QStringList out;
    for (const benchsim::LogEntry &e : bench.log())
        out << QStringLiteral("%1: %2 -> %3 (%4 bytes)")
                   .arg(e.instrument, QString::fromLatin1(e.command), QString::fromLatin1(e.reply.toHex()))
                   .arg(e.replySize);
    return out;
}

QByteArray Contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing " + path.toLocal8Bit() + ">");
}

// The files in dir matching pattern, sorted by name.
QStringList Files(const QString &dir, const QString &pattern)
{
    QStringList out;
    for (const QString &name : QDir(dir).entryList({pattern}, QDir::Files, QDir::Name))
        out << QDir(dir).filePath(name);
    return out;
}

// A version-2 record as version 1 wrote it: without the fine and corrected
// delays, their uncertainties and the calibration.
QByteArray AsVersion1(const QByteArray &record)
{
    QJsonObject root = QJsonDocument::fromJson(record).object();
    root["schemaVersion"] = 1;
    root.remove("calibration");
    QJsonObject statistics = root.value("statistics").toObject();
    for (const char *path : {"src2Rf", "src2Hd", "src2Snk"}) {
        QJsonObject p = statistics.value(path).toObject();
        for (const char *key : {"fineMean", "correctedMean", "uncertaintyMs"})
            p.remove(key);
        statistics[path] = p;
    }
    root["statistics"] = statistics;
    QJsonArray measurements;
    for (const QJsonValue &m : root.value("measurements").toArray()) {
        QJsonObject one = m.toObject();
        for (const char *key : {"fineEdges", "fineMs", "correctedMs", "uncertaintyMs"})
            one.remove(key);
        measurements.append(one);
    }
    root["measurements"] = measurements;
    return QJsonDocument(root).toJson();
}

void Write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// The independent reader of reports and JUnit files on what a test expects
// (tests/e2e/check_report.py); its output when it finds a mismatch.
QString CheckReport(const QJsonObject &expect, const QString &dir)
{
    const QString file = QDir(dir).filePath("expect.json");
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly))
        return "cannot write " + file;
    f.write(QJsonDocument(expect).toJson());
    f.close();
    QProcess checker;
    checker.setProcessChannelMode(QProcess::MergedChannels);
    checker.start(SYSTEM_PYTHON3, {REPORT_CHECK, file});
    const bool done = checker.waitForFinished(240000);
    const QString out = QString::fromUtf8(checker.readAll());
    if (out.contains("SKIP"))
        qWarning("%s", qPrintable(out.section('\n', 0, 0)));
    return done && checker.exitStatus() == QProcess::NormalExit && checker.exitCode() == 0 ? QString() : out + " ";
}

QJsonArray Limits(const QList<QStringList> &limits, bool guarded)
{
    QJsonArray out;
    for (const QStringList &l : limits)
        out.append(QJsonObject{{"typed", l[0]}, {"verdict", l[1]}, {"guarded", guarded}});
    return out;
}

} // namespace

class TestHeadless : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sameAsWindow();
    void exitStatuses_data();
    void exitStatuses();
    void interrupted();
    void interruptedTwice();
    void notForTheWindow_data();
    void notForTheWindow();
    void compare();
    void killed_data();
    void killed();
    void runsNeverShareFiles();
    void calibrateMeasureGuard();
    void wrongTypeAndBadCalibration();
    void reportAndJUnit();
    void scpiConsole_data();
    void scpiConsole();
    void scpiConsoleFailures_data();
    void scpiConsoleFailures();

private:
    // Starts the executable in `cwd` with a private home and neither a
    // display nor a platform plug-in named.
    QProcess *start(const QStringList &args, const QString &cwd);
    Outcome run(const QStringList &args, const QString &cwd, const QByteArray &input = QByteArray());

    QTemporaryDir home;
};

void TestHeadless::initTestCase()
{
    QVERIFY(home.isValid());
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath("share").toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
}

QProcess *TestHeadless::start(const QStringList &args, const QString &cwd)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert("HOME", home.path());
    env.insert("XDG_DATA_HOME", home.filePath("share"));
    // The spool files of runs killed in a block read stay in this folder.
    QDir().mkpath(home.filePath("tmp"));
    env.insert("TMPDIR", home.filePath("tmp"));
    auto *p = new QProcess(this);
    p->setProcessEnvironment(env);
    p->setWorkingDirectory(cwd);
    p->start(QStringLiteral(QUENVIA_EXE), args);
    return p;
}

Outcome TestHeadless::run(const QStringList &args, const QString &cwd, const QByteArray &input)
{
    QProcess *p = start(args, cwd);
    p->write(input);
    p->closeWriteChannel();
    Outcome o;
    if (!p->waitForFinished(120000)) {
        p->kill();
        p->waitForFinished();
    } else if (p->exitStatus() == QProcess::NormalExit) {
        o.status = p->exitCode();
    }
    o.out = QString::fromLocal8Bit(p->readAllStandardOutput());
    o.err = QString::fromLocal8Bit(p->readAllStandardError());
    delete p;
    return o;
}

// One scenario (seeded jitter, two acquisitions rejected, HDMI delay on),
// once through the window's Init and Start buttons and once headless, each
// against a fresh bench: the same exchanges with the same replies, and the
// same results and trace files.
void TestHeadless::sameAsWindow()
{
    benchsim::Scenario scenario;
    scenario.oscType = "Benlo";
    scenario.benloPoints = 4000;
    scenario.jitterMs = 3.0;
    scenario.seed = 11;
    scenario.rejectFirst = 2;
    scenario.vaValue = 35.5;
    const int count = 4;

    RunBench window(scenario, false, true);
    QVERIFY2(window.started, qPrintable(window.error));
    const QString windowCfg = window.dir.filePath("window.cfg");
    WriteSettings(windowCfg, window.bench, true);
    window.window->LoadCfgFile(windowCfg);
    QTest::mouseClick(window.form->OsInit, Qt::LeftButton);
    QTest::mouseClick(window.form->SaInit, Qt::LeftButton);
    QTest::mouseClick(window.form->VaInit, Qt::LeftButton);
    QVERIFY(window.form->Start->isEnabled());
    window.start(count);
    QVERIFY(window.watcher.graph.shown);

    QTemporaryDir dir;
    benchsim::Bench bench(scenario);
    QString error;
    QVERIFY2(bench.start(&error), qPrintable(error));
    WriteSettings(dir.filePath("bench.cfg"), bench, true);
    const Outcome o = run({"--measure", QString::number(count), "--settings", "bench.cfg", "--out", "runs", "--label",
                           "same as window", "--limit", "src2snk<=150", "--limit", "p95:src2rf<=60"},
                          dir.path());
    bench.stop();
    QVERIFY2(o.status == ExitDone, qPrintable(o.err + o.out));

    QCOMPARE(Log(bench), Log(window.bench));

    const QStringList windowResults = window.written("data*Results.txt");
    const QStringList results = Files(dir.filePath("runs"), "QuenviaCodecTiming*_same-as-window_Results.txt");
    QCOMPARE(windowResults.size(), 1);
    QCOMPARE(results.size(), 1);
    QCOMPARE(Contents(results.first()), Contents(windowResults.first()));
    const QStringList windowTraces = window.written("data*.bin");
    const QStringList traces = Files(dir.filePath("runs"), "*.bin");
    QCOMPARE(traces.size(), 3 * count);
    QCOMPARE(windowTraces.size(), traces.size());
    for (int i = 0; i < traces.size(); ++i)
        QVERIFY2(Contents(traces[i]) == Contents(windowTraces[i]), qPrintable(traces[i]));

    // The set-ups one line each, a plain progress line per measurement and
    // per acquisition taken again (stderr is no terminal here).
    QVERIFY(o.err.startsWith("Oscilloscope: ready\nSpectrum analyzer: ready (Benchsim,SA-ZS1,000101,1.0)\n"
                             "Video analyzer: ready\n"));
    QCOMPARE(o.err.count(QRegularExpression("^again for 1/4: first sample outside the window",
                                            QRegularExpression::MultilineOption)),
             2);
    QVERIFY2(o.err.contains(QRegularExpression("^4/4 Source->RF [0-9.]+ ms, Source->HDMI 35.500 ms, Source->Sink",
                                               QRegularExpression::MultilineOption)),
             qPrintable(o.err));

    // Standard output names the files, gives the statistics and the limits.
    QVERIFY(o.out.startsWith("4 of 4 measurements; 2 acquisitions taken again (2 first sample outside the window)\n"
                             "Results: runs/QuenviaCodecTiming"));
    QVERIFY2(o.out.contains(QRegularExpression("^n +4 +4 +4$", QRegularExpression::MultilineOption)),
             qPrintable(o.out));
    QVERIFY(o.out.contains(QRegularExpression("^Limit: Source->Sink mean 1[12][0-9]\\.[0-9]{3} ms <= 150 ms: met$",
                                              QRegularExpression::MultilineOption)));
    QVERIFY(o.out.contains("Limit: Source->RF p95 "));

    // The delay table is there too; the record keeps the label as given.
    QCOMPARE(Files(dir.filePath("runs"), "*_same-as-window_Delays.csv").size(), 1);
    const QStringList records = Files(dir.filePath("runs"), "*_Run.json");
    QCOMPARE(records.size(), 1);
    StoredRun stored;
    QVERIFY2(ReadRunRecord(records.first(), &stored, &error), qPrintable(error));
    QCOMPARE(stored.label, QStringLiteral("same as window"));
    QCOMPARE(stored.src2Snk.size(), count);
    QVERIFY(stored.hdMeasured);
}

void TestHeadless::exitStatuses_data()
{
    QTest::addColumn<int>("rejectFirst");
    QTest::addColumn<bool>("closedPort");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");

    // The simulator plays 120 ms from source to sink.
    QTest::newRow("limit below the true delay")
        << 0 << false << QStringList{"--limit", "src2snk<=100", "--no-traces"} << int(ExitLimit)
        << "Limit: Source->Sink mean 120.";
    QTest::newRow("every acquisition rejected")
        << 25 << false << QStringList{} << int(ExitIncomplete)
        << "Stopped after 0 of 3 measurements: 20 acquisitions in a row were rejected";
    QTest::newRow("no instrument at the address")
        << 0 << true << QStringList{} << int(ExitFailure)
        << "\": Init failed at open: connection refused";
    QTest::newRow("settings file missing")
        << 0 << false << QStringList{"--settings", "nowhere.cfg"} << int(ExitUsage)
        << "Cannot read the settings file nowhere.cfg";
    QTest::newRow("limit on a path not measured")
        << 0 << false << QStringList{"--limit", "src2hd<=40"} << int(ExitUsage) << "HDMI delay";
}

void TestHeadless::exitStatuses()
{
    QFETCH(int, rejectFirst);
    QFETCH(bool, closedPort);
    QFETCH(QStringList, extra);
    QFETCH(int, status);
    QFETCH(QString, says);

    benchsim::Scenario scenario;
    scenario.rejectFirst = rejectFirst;
    QTemporaryDir dir;
    benchsim::Bench bench(scenario);
    QVERIFY(bench.start());
    WriteSettings(dir.filePath("bench.cfg"), bench, false);
    if (closedPort)
        bench.stop();

    QStringList args{"--measure", "3", "--out", "runs"};
    if (!extra.contains("--settings"))
        args << "--settings" << "bench.cfg";
    const Outcome o = run(args + extra, dir.path());
    bench.stop();
    QVERIFY2(o.status == status, qPrintable(QString::number(o.status) + "\n" + o.err + o.out));
    QVERIFY2((o.out + o.err).contains(says), qPrintable(o.err + o.out));

    const QStringList results = Files(dir.filePath("runs"), "*Results.txt");
    if (status == ExitLimit || status == ExitIncomplete) {
        // The run is written either way; --no-traces leaves the traces out.
        QCOMPARE(results.size(), 1);
        QCOMPARE(Files(dir.filePath("runs"), "*.bin").size(), 0); // no traces asked for, or none kept
        const QStringList sent = QStringList{QString::fromLatin1(bench.commands("osc").last()),
                                             QString::fromLatin1(bench.commands("sa").last())};
        QCOMPARE(sent, (QStringList{"RUNC;*OPC?", "INIT:CONT ON;*OPC?"}));
    } else {
        QCOMPARE(results.size(), 0);
    }
}

// Ctrl-C while the run is under way: the exchange under way is finished, the
// instruments are put back into free run, the measurements kept are written,
// and the status is 130.
void TestHeadless::interrupted()
{
    benchsim::Scenario scenario;
    scenario.acquisitionMs = 100;
    QTemporaryDir dir;
    benchsim::Bench bench(scenario);
    QVERIFY(bench.start());
    WriteSettings(dir.filePath("bench.cfg"), bench, false);

    QProcess *p = start({"--measure", "100", "--settings", "bench.cfg", "--out", "runs"}, dir.path());
    QString err;
    QElapsedTimer clock;
    clock.start();
    while (err.count("/100 Source->RF") < 3 && clock.elapsed() < 60000) {
        p->waitForReadyRead(1000);
        err += QString::fromLocal8Bit(p->readAllStandardError());
    }
    QVERIFY2(err.count("/100 Source->RF") >= 3, qPrintable(err));
    ::kill(pid_t(p->processId()), SIGINT);
    QVERIFY(p->waitForFinished(10000));
    QCOMPARE(p->exitStatus(), QProcess::NormalExit);
    QCOMPARE(p->exitCode(), int(ExitInterrupted));
    const QString out = QString::fromLocal8Bit(p->readAllStandardOutput());
    delete p;
    bench.stop();

    const QRegularExpressionMatch kept = QRegularExpression("^Interrupted after (\\d+) of 100 measurements").match(out);
    QVERIFY2(kept.hasMatch(), qPrintable(out));
    const int n = kept.captured(1).toInt();
    QVERIFY(n >= 3 && n < 100);

    // After the last trigger nothing but the free-run commands.
    const QStringList osc = [&] {
        QStringList l;
        for (const QByteArray &c : bench.commands("osc"))
            l << QString::fromLatin1(c);
        return l;
    }();
    QCOMPARE(osc.last(), QStringLiteral("RUNC;*OPC?"));
    QCOMPARE(QString::fromLatin1(bench.commands("sa").last()), QStringLiteral("INIT:CONT ON;*OPC?"));

    const QStringList results = Files(dir.filePath("runs"), "*Results.txt");
    QCOMPARE(results.size(), 1);
    const QList<QByteArray> lines = Contents(results.first()).split('\n');
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines[4].split(' ').size() - 2, n); // "Source2Snk Delay:" and its values
    QCOMPARE(Files(dir.filePath("runs"), "*.bin").size(), 3 * n);
}

// A second Ctrl-C ends the program at once, as the shell's default would,
// and says what that left undone: here, the measurements kept so far are
// on disk but the run is not finished.
void TestHeadless::interruptedTwice()
{
    benchsim::Scenario scenario;
    scenario.acquisitionMs = 1500;
    QTemporaryDir dir;
    benchsim::Bench bench(scenario);
    QVERIFY(bench.start());
    WriteSettings(dir.filePath("bench.cfg"), bench, false);

    QProcess *p = start({"--measure", "100", "--settings", "bench.cfg", "--out", "runs"}, dir.path());
    QString err;
    QElapsedTimer clock;
    clock.start();
    while (err.count("/100 Source->RF") < 2 && clock.elapsed() < 60000) {
        p->waitForReadyRead(1000);
        err += QString::fromLocal8Bit(p->readAllStandardError());
    }
    QVERIFY2(err.count("/100 Source->RF") >= 2, qPrintable(err));
    // The first waits for the acquisition under way (1.5 s); the second does not.
    ::kill(pid_t(p->processId()), SIGINT);
    QTest::qWait(200);
    ::kill(pid_t(p->processId()), SIGINT);
    QVERIFY(p->waitForFinished(10000));
    err += QString::fromLocal8Bit(p->readAllStandardError());
    QCOMPARE(p->exitStatus(), QProcess::CrashExit); // ended by the signal, as the shell reports it (130)
    delete p;
    bench.stop();

    QVERIFY2(QRegularExpression("Second interrupt: ended at once\\. The \\d+ measurements kept so far are on disk "
                                "in .*runs, but not the results file and run record, and the instruments were not "
                                "put back into free run; \"QuenviaCodecTiming --recover .*runs\" finishes the run\\.\n$")
                 .match(err)
                 .hasMatch(),
             qPrintable(err));
    // What was kept is on disk, waiting for --recover.
    QCOMPARE(Files(dir.filePath("runs"), "*Journal.jsonl").size(), 1);
    QCOMPARE(Files(dir.filePath("runs"), "*Results.txt").size(), 0);
    QVERIFY(Files(dir.filePath("runs"), "*_src.bin").size() >= 2);
}

void TestHeadless::notForTheWindow_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("says");
    QTest::newRow("-v") << QStringList{"-v"} << "unknown option -v";
    QTest::newRow("a file") << QStringList{"run.json"} << "unexpected argument \"run.json\"";
    QTest::newRow("a typo") << QStringList{"--mesure", "3"} << "unknown option --mesure";
    QTest::newRow("no display") << QStringList{} << "no display";
}

// Whatever the window does not take is a usage error, and so is asking for
// the window where there is no display: status 1 and a line saying why,
// never Qt's abort.
void TestHeadless::notForTheWindow()
{
    QFETCH(QStringList, args);
    QFETCH(QString, says);
    const Outcome o = run(args, home.path());
    QCOMPARE(o.status, int(ExitUsage));
    QVERIFY2(o.err.contains(says) && o.err.contains("--help"), qPrintable(o.err));
    QVERIFY(o.out.isEmpty());
}

// Two runs with different true delays differ significantly on that path; two
// with the same delays (another seed) do not. The plot holds both.
void TestHeadless::compare()
{
    auto measure = [this](double src2SnkMs, quint32 seed, const QString &label) {
        benchsim::Scenario scenario;
        scenario.oscType = "Benlo";
        scenario.benloPoints = 4000;
        scenario.src2SnkMs = src2SnkMs;
        scenario.jitterMs = 3.0;
        scenario.seed = seed;
        QTemporaryDir dir;
        benchsim::Bench bench(scenario);
        bench.start();
        WriteSettings(dir.filePath("bench.cfg"), bench, false);
        const Outcome o = run({"--measure", "12", "--settings", "bench.cfg", "--out", home.filePath("runs"),
                               "--label", label, "--no-traces"},
                              dir.path());
        bench.stop();
        const QStringList records = Files(home.filePath("runs"), "*_" + label + "_Run.json");
        return o.status == ExitDone && records.size() == 1 ? records.first() : QString();
    };
    const QString a = measure(120.0, 1, "a");
    const QString b = measure(126.0, 2, "b");
    const QString c = measure(120.0, 3, "c");
    QVERIFY(!a.isEmpty() && !b.isEmpty() && !c.isEmpty());

    const QString png = home.filePath("ab.png");
    const Outcome ab = run({"--compare", a, b, "--plot", png}, home.path());
    QVERIFY2(ab.status == ExitDone, qPrintable(ab.err + ab.out));
    QVERIFY(ab.out.startsWith("A: " + a + ", label a, started "));
    const QStringList blocks = ab.out.split("\n\n");
    // The header, then Source->RF, Source->Sink, the plot's name.
    QCOMPARE(blocks.size(), 4);
    QVERIFY2(blocks[1].contains(QRegularExpression("B - A: [+-][0-9.]+ ms, .*: not significant$")),
             qPrintable(blocks[1]));
    QVERIFY2(blocks[2].contains(QRegularExpression("^n +12 +12$", QRegularExpression::MultilineOption)),
             qPrintable(blocks[2]));
    QVERIFY2(blocks[2].contains(QRegularExpression("B - A: \\+[56]\\.[0-9]{3} ms, 95 % CI \\+[0-9.]+ \\.\\. "
                                                   "\\+[0-9.]+ ms \\(Welch, [0-9.]+ df\\): significant$")),
             qPrintable(blocks[2]));
    const QImage image(png);
    QCOMPARE(image.size(), QSize(900, 640));
    // Both runs' bars are there, each in its own colour.
    bool blue = false, orange = false;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2) {
            const QColor px = image.pixelColor(x, y);
            blue = blue || (px.blue() > 150 && px.red() < 150);
            orange = orange || (px.red() > 200 && px.blue() < 150 && px.green() > 120);
        }
    QVERIFY(blue && orange);

    // The other formats, by the name's suffix; an unknown one is refused
    // before anything is read.
    const QList<QPair<QString, QByteArray>> formats = {{"ab.svg", "<?xml"}, {"ab.pdf", "%PDF"}, {"ab.jpg", "\xff\xd8"}};
    for (const auto &f : formats) {
        const Outcome o = run({"--compare", a, b, "--plot", home.filePath(f.first)}, home.path());
        QVERIFY2(o.status == ExitDone, qPrintable(o.err));
        QCOMPARE(Contents(home.filePath(f.first)).left(f.second.size()), f.second);
    }
    const Outcome gif = run({"--compare", a, b, "--plot", home.filePath("ab.gif")}, home.path());
    QCOMPARE(gif.status, int(ExitUsage));
    QVERIFY2(gif.err.contains("--plot writes PNG, JPEG, SVG or PDF"), qPrintable(gif.err));
    QVERIFY(gif.out.isEmpty() && !QFile::exists(home.filePath("ab.gif")));

    const Outcome ac = run({"--compare", a, c}, home.path());
    QVERIFY2(ac.status == ExitDone, qPrintable(ac.err + ac.out));
    QCOMPARE(ac.out.count(": not significant\n"), 2);

    const Outcome missing = run({"--compare", a, home.filePath("none.json")}, home.path());
    QCOMPARE(missing.status, int(ExitFailure));
    QVERIFY(missing.err.contains("none.json"));
}

void TestHeadless::killed_data()
{
    QTest::addColumn<int>("acquisitionMs");
    QTest::addColumn<int>("afterLines"); // measurement lines seen before the kill; 0: the set-ups done
    QTest::addColumn<int>("delayMs");    // and this long after
    QTest::addColumn<QString>("appears"); // or as soon as a file like this appears
    QTest::newRow("before the first measurement") << 3000 << 0 << 300 << QString();
    QTest::newRow("mid-run") << 15 << 25 << 0 << QString();
    // The last line comes just before the run's files are finished.
    QTest::newRow("as the disk catches up") << 0 << 30 << 0 << QString();
    QTest::newRow("while the results file is written") << 0 << 30 << 0 << "*Results.txt*";
    QTest::newRow("while the record is written") << 0 << 30 << 0 << "*Run.json*";
}

// SIGKILL at several moments of a run: every measurement reported on
// standard error is in the delay table and its trace files, before and
// after --recover, which finishes the run from its journal; nothing is
// half-written or there twice. Until then --measure names the run.
void TestHeadless::killed()
{
    QFETCH(int, acquisitionMs);
    QFETCH(int, afterLines);
    QFETCH(int, delayMs);
    QFETCH(QString, appears);
    const int count = 30;
    const int points = 2000;
    benchsim::Scenario scenario;
    scenario.oscType = "Benlo";
    scenario.benloPoints = points;
    scenario.jitterMs = 3.0;
    scenario.acquisitionMs = acquisitionMs;
    QTemporaryDir dir;
    benchsim::Bench bench(scenario);
    QVERIFY(bench.start());
    WriteSettings(dir.filePath("bench.cfg"), bench, false);
    const QString runs = dir.filePath("runs");

    QProcess *p = start({"--measure", QString::number(count), "--settings", "bench.cfg", "--out", "runs"}, dir.path());
    QVERIFY(p->waitForStarted());
    const QRegularExpression line("^(\\d+)/\\d+ Source->RF ([0-9.]+) ms, Source->Sink ([0-9.]+) ms",
                                  QRegularExpression::MultilineOption);
    QString err;
    QElapsedTimer clock;
    clock.start();
    auto ready = [&] {
        return afterLines == 0 ? err.contains("Spectrum analyzer: ready") : err.count(line) >= afterLines;
    };
    while (!ready() && clock.elapsed() < 60000 && p->state() == QProcess::Running) {
        p->waitForReadyRead(100);
        err += QString::fromLocal8Bit(p->readAllStandardError());
    }
    QVERIFY2(ready(), qPrintable(err));
    if (delayMs > 0)
        QThread::msleep(ulong(delayMs));
    while (!appears.isEmpty() && Files(runs, appears).isEmpty() && clock.elapsed() < 60000
           && ::kill(pid_t(p->processId()), 0) == 0)
        QThread::usleep(100);
    // A run that already ended has no process to kill (and pid 0 would be
    // this test's own process group).
    if (p->processId() > 0)
        ::kill(pid_t(p->processId()), SIGKILL);
    QVERIFY(p->waitForFinished(10000));
    err += QString::fromLocal8Bit(p->readAllStandardError());
    delete p;
    bench.stop();

    // What standard error reported: index, Source->RF and Source->Sink.
    QMap<int, QStringList> reported;
    for (QRegularExpressionMatchIterator it = line.globalMatch(err); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        reported[m.captured(1).toInt()] = QStringList{m.captured(2), m.captured(3)};
    }
    QVERIFY(afterLines == 0 ? reported.isEmpty() : reported.size() >= afterLines);

    // The rows of the delay table by index, with the values as reported.
    auto table = [&] {
        QMap<int, QStringList> rows;
        const QStringList csv = Files(runs, "*Delays.csv");
        const QList<QByteArray> lines = csv.size() == 1 ? Contents(csv.first()).split('\n') : QList<QByteArray>();
        for (int i = 1; i < lines.size(); ++i) {
            const QList<QByteArray> cells = lines[i].trimmed().split(',');
            if (cells.size() >= 6 && lines[i].endsWith('\r')) {
                const int index = cells[0].toInt();
                if (rows.contains(index))
                    rows[-1] << cells[0]; // there twice
                rows[index] = QStringList{QString::number(cells[2].toDouble(), 'f', 3),
                                          QString::number(cells[4].toDouble(), 'f', 3)};
            }
        }
        return rows;
    };
    auto everyReportedOnDisk = [&] {
        const QMap<int, QStringList> rows = table();
        QVERIFY(!rows.contains(-1));
        for (auto it = reported.begin(); it != reported.end(); ++it) {
            QCOMPARE(rows.value(it.key()), it.value());
            for (const char *kind : {"src", "rf", "snk"}) {
                const QStringList file =
                    Files(runs, QStringLiteral("*_%1_%2.bin").arg(it.key(), 3, 10, QChar('0')).arg(QLatin1String(kind)));
                QCOMPARE(file.size(), 1);
                QCOMPARE(QFileInfo(file.first()).size(), qint64(8) * points);
            }
        }
    };
    everyReportedOnDisk();
    if (QTest::currentTestFailed())
        return;

    const QStringList journals = Files(runs, "*Journal.jsonl");
    // Killed after its record was written, the run is finished but for
    // removing the journal.
    const bool recordBefore = !Files(runs, "*Run.json").isEmpty();
    const Outcome note = run({"--measure", "1", "--settings", "bench.cfg", "--out", "runs"}, dir.path());
    QCOMPARE(note.err.contains("Unfinished run: " + QDir(runs).absolutePath() + "/"), !journals.isEmpty());
    if (!journals.isEmpty())
        QVERIFY2(note.err.contains("--recover " + QDir(runs).absolutePath() + "\" finishes it."), qPrintable(note.err));

    const Outcome recovered = run({"--recover", "runs"}, dir.path());
    QVERIFY2(recovered.status == ExitDone, qPrintable(recovered.err + recovered.out));
    QVERIFY2(recovered.out.startsWith(journals.isEmpty() ? "No unfinished run in runs"
                                      : recordBefore     ? "runs/" + QFileInfo(journals.first()).fileName()
                                                         : "Finished "),
             qPrintable(recovered.out));

    // One run, whole: as many values, rows and trace triples as the record
    // has measurements, every one reported among them, no leftovers.
    everyReportedOnDisk();
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(Files(runs, "*Journal.jsonl"), QStringList());
    QCOMPARE(QDir(runs).entryList({"*.??????"}, QDir::Files), QStringList());
    const QStringList records = Files(runs, "*Run.json");
    QCOMPARE(records.size(), 1);
    StoredRun stored;
    QString error;
    QVERIFY2(ReadRunRecord(records.first(), &stored, &error), qPrintable(error));
    const int kept = stored.src2Snk.size();
    QVERIFY(kept >= reported.size() && kept <= count);
    QCOMPARE(table().keys(), [kept] {
        QList<int> k;
        for (int i = 1; i <= kept; ++i)
            k << i;
        return k;
    }());
    QCOMPARE(Files(runs, "*.bin").size(), 3 * kept);
    const QList<QByteArray> results = Contents(Files(runs, "*Results.txt").value(0)).split('\n');
    QCOMPARE(results.size(), 6);
    QCOMPARE(results[4].split(' ').size() - 2, kept);
    // The record finished from the journal says so; the Statistics window
    // and --compare read it like any other.
    if (!journals.isEmpty() && !recordBefore) {
        QFile file(records.first());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject record = QJsonDocument::fromJson(file.readAll()).object();
        QVERIFY(record.value("recovered").isObject());
        QCOMPARE(record.value("kept").toInt(), kept);
        const Outcome compared = run({"--compare", records.first(), records.first()}, dir.path());
        QCOMPARE(compared.status, int(ExitDone));
    }
}

// Runs never overwrite each other's files: six in a row (mostly within
// one second), and two at once in one working folder, each spooling its
// blocks through a file of its own.
void TestHeadless::runsNeverShareFiles()
{
    benchsim::Scenario scenario;
    scenario.oscType = "Benlo";
    scenario.benloPoints = 2000;
    QTemporaryDir dir;
    benchsim::Bench bench(scenario), other(scenario);
    QVERIFY(bench.start() && other.start());
    WriteSettings(dir.filePath("bench.cfg"), bench, false);
    WriteSettings(dir.filePath("other.cfg"), other, false);

    QStringList named;
    for (int i = 0; i < 6; ++i) {
        const Outcome o = run({"--measure", "1", "--settings", "bench.cfg", "--out", "row", "--no-traces"}, dir.path());
        QVERIFY2(o.status == ExitDone, qPrintable(o.err + o.out));
        named << QRegularExpression("^Results: (.*)$", QRegularExpression::MultilineOption).match(o.out).captured(1);
    }
    QCOMPARE(QSet<QString>(named.begin(), named.end()).size(), 6);
    QCOMPARE(Files(dir.filePath("row"), "*Results.txt").size(), 6);
    QCOMPARE(Files(dir.filePath("row"), "*Run.json").size(), 6);
    QCOMPARE(Files(dir.filePath("row"), "*Delays.csv").size(), 6);

    QProcess *a = start({"--measure", "8", "--settings", "bench.cfg", "--out", "both"}, dir.path());
    QProcess *b = start({"--measure", "8", "--settings", "other.cfg", "--out", "both"}, dir.path());
    for (QProcess *p : {a, b}) {
        QVERIFY(p->waitForFinished(60000));
        const QString err = QString::fromLocal8Bit(p->readAllStandardError());
        QVERIFY2(p->exitStatus() == QProcess::NormalExit && p->exitCode() == ExitDone, qPrintable(err));
        QVERIFY2(!err.contains("could not"), qPrintable(err));
        delete p;
    }
    bench.stop();
    other.stop();
    QCOMPARE(Files(dir.filePath("both"), "*Results.txt").size(), 2);
    QCOMPARE(Files(dir.filePath("both"), "*.bin").size(), 2 * 3 * 8);
    QCOMPARE(QDir(dir.path()).entryList({"*.tmp"}, QDir::Files), QStringList());
}

// A calibration measured on a reference set-up, then applied: the corrected
// delays are the chain's own, the record keeps the calibration, and guarded
// limits judge with U. The reference bench plays 0.3 ms on Source->Sink and
// 0.25 ms on Source->RF (with a reference of 0.1 ms); with its ramps of
// 0.375 ms, the rules' levels add 0.1375 ms and about 0.0 ms to them (the
// source crosses 35 mV at 23 % of its ramp, the sink 60 mV at 60 %, the RF
// level at about 22.5 %: the analyzer's noise widens its trace's scale):
// offsets of 0.4375 and about 0.147 ms.
void TestHeadless::calibrateMeasureGuard()
{
    QTemporaryDir dir;
    auto bench = [&](double src2RfMs, double src2SnkMs) {
        benchsim::Scenario s;
        s.oscType = "Benlo";
        s.riseMs = 0.3;
        s.noiseV = 0.0005;
        s.src2RfMs = src2RfMs;
        s.src2SnkMs = src2SnkMs;
        s.seed = 3;
        return s;
    };
    auto runOn = [&](const benchsim::Scenario &s, const QStringList &args) {
        benchsim::Bench b(s);
        b.start();
        WriteSettings(dir.filePath("bench.cfg"), b, false);
        const Outcome o = run(QStringList{"--settings", "bench.cfg", "--out", "runs", "--no-traces"} + args, dir.path());
        b.stop();
        return o;
    };
    const QString cal = dir.filePath("cal.json");
    Outcome o = runOn(bench(0.25, 0.3), {"--calibrate", "10", "--path", "src2Snk", "--calibration", cal});
    QVERIFY2(o.status == ExitDone, qPrintable(o.err + o.out));
    QVERIFY2(o.out.contains("Calibration: Source->Sink offset 0.43"), qPrintable(o.out));
    o = runOn(bench(0.25, 0.3),
              {"--calibrate", "10", "--path", "src2rf", "--reference-ms", "0.1", "--calibration", cal, "--label", "rf"});
    QVERIFY2(o.status == ExitDone, qPrintable(o.err + o.out));
    Calibration c;
    QString error;
    QVERIFY2(ReadCalibrationFile(cal, &c, &error), qPrintable(error));
    // Both entries, each within a few us of the bench's own delay.
    QVERIFY2(std::fabs(c.of(DelayPath::Src2Snk).offsetMs - 0.4375) < 0.003, qPrintable(QString(CalibrationJson(c))));
    QVERIFY2(std::fabs(c.of(DelayPath::Src2Rf).offsetMs - 0.147) < 0.006, qPrintable(QString(CalibrationJson(c))));
    QVERIFY(c.of(DelayPath::Src2Snk).uncertaintyMs > 0 && c.of(DelayPath::Src2Snk).uncertaintyMs < 0.003);
    QVERIFY(c.of(DelayPath::Src2Rf).note.endsWith(", run rf"));
    QVERIFY(!c.of(DelayPath::Src2Hd).set);

    // Applied: the sink 120 ms and the RF 40.1 ms behind the reference.
    o = runOn(bench(40.25, 120.3), {"--measure", "10", "--calibration", cal, "--label", "applied", "--guarded",
                                    "--limit", "src2snk<=120.05", "--limit", "max:src2rf<=40.15"});
    QVERIFY2(o.status == ExitDone, qPrintable(o.err + o.out));
    QVERIFY(o.err.contains("\nCalibration: Reference set-up, "));
    QVERIFY2(o.out.contains(QRegularExpression("^Source->Sink: 1(19\\.99|20\\.00)[0-9] ms \\+/- 0\\.00[1-9] ms "
                                               "\\(k = 2[.0-9]*\\), corrected mean of 10$",
                                               QRegularExpression::MultilineOption)),
             qPrintable(o.out));
    QVERIFY2(o.out.contains(QRegularExpression("^Limit: Source->Sink mean \\(corrected\\) 1(19\\.99|20\\.00)[0-9] ms "
                                               "\\+/- 0\\.00[1-9] ms <= 120.05 ms: met$",
                                               QRegularExpression::MultilineOption)),
             qPrintable(o.out));
    const QStringList records = Files(dir.filePath("runs"), "*_applied_Run.json");
    QCOMPARE(records.size(), 1);
    QFile f(records.first());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QJsonObject record = QJsonDocument::fromJson(f.readAll()).object();
    QCOMPARE(record.value("calibration").toObject(), CalibrationObject(c));
    const QJsonObject snk = record.value("statistics").toObject().value("src2Snk").toObject();
    QVERIFY(std::fabs(snk.value("correctedMean").toDouble() - 120.0) < 0.003);
    const double u = snk.value("uncertaintyMs").toObject().value("expanded").toDouble();

    // A limit within the figure's uncertainty is inconclusive; one below it exceeded.
    const QString limit = QString::number(snk.value("correctedMean").toDouble(), 'f', 6);
    o = runOn(bench(40.25, 120.3), {"--measure", "10", "--calibration", cal, "--guarded", "--limit", "src2snk<=" + limit});
    QVERIFY2(o.status == ExitInconclusive, qPrintable(o.err + o.out));
    QVERIFY2(o.out.contains(QRegularExpression("^Limit: Source->Sink mean \\(corrected\\) .*: inconclusive against 1[12][09]\\.",
                                               QRegularExpression::MultilineOption)),
             qPrintable(o.out));
    o = runOn(bench(40.25, 120.3),
              {"--measure", "10", "--calibration", cal, "--guarded", "--limit", "src2snk<=" + limit, "--limit",
               QStringLiteral("src2snk<=%1").arg(120.0 - 3 * u)});
    QVERIFY2(o.status == ExitLimit, qPrintable(o.err + o.out));
    // Without --guarded a limit judges the delay as it always has (the
    // grid's, uncorrected: 120.48 ms).
    o = runOn(bench(40.25, 120.3), {"--measure", "10", "--calibration", cal, "--limit", "src2snk<=120.5"});
    QVERIFY2(o.status == ExitDone, qPrintable(o.err + o.out));
}

// The wrong oscilloscope type gives no number; a calibration that is no
// calibration stops the command before any instrument is touched; a
// record of version 1 still compares with one of version 2.
void TestHeadless::wrongTypeAndBadCalibration()
{
    QTemporaryDir dir;
    benchsim::Scenario scenario;
    scenario.oscType = "Benlo";
    benchsim::Bench bench(scenario);
    QVERIFY(bench.start());
    BenchSettings s;
    s.osIp = bench.resource("osc");
    s.saIp = bench.resource("sa");
    s.osType = 0; // Orvix, on a Benlo oscilloscope
    QString why;
    QVERIFY2(WriteBenchSettings(dir.filePath("orvix.cfg"), s, &why), qPrintable(why));
    Outcome o = run({"--measure", "3", "--settings", "orvix.cfg", "--out", "runs"}, dir.path());
    QCOMPARE(o.status, int(ExitFailure));
    QVERIFY2(o.err.startsWith(QStringLiteral("Oscilloscope at \"%1\": Init failed: the instrument refused at least 10 "
                                             "set-up commands (first: -113,\"Undefined header\"); is the Type right?\n")
                                  .arg(s.osIp)),
             qPrintable(o.err));
    QVERIFY(Files(dir.filePath("runs"), "*").isEmpty());

    WriteSettings(dir.filePath("bench.cfg"), bench, false);
    QFile bad(dir.filePath("bad.json"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write(R"({"schemaVersion": 1, "paths": {"src2Snk": {"offsetMs": "0.3", "uncertaintyMs": 0}}})");
    bad.close();
    bench.clearLog();
    o = run({"--measure", "3", "--settings", "bench.cfg", "--calibration", "bad.json"}, dir.path());
    QCOMPARE(o.status, int(ExitUsage));
    QVERIFY2(o.err.contains("bad.json: paths.src2Snk.offsetMs must be a number from -1000 to 1000"), qPrintable(o.err));
    QVERIFY(bench.log().isEmpty());

    // A version-2 record, and the same run as version 1 wrote it.
    o = run({"--measure", "4", "--settings", "bench.cfg", "--out", "runs", "--label", "v2", "--no-traces"}, dir.path());
    QVERIFY2(o.status == ExitDone, qPrintable(o.err + o.out));
    bench.stop();
    const QString v2 = Files(dir.filePath("runs"), "*_v2_Run.json").value(0);
    QFile f(v2);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QJsonObject root = QJsonDocument::fromJson(f.readAll()).object();
    root["schemaVersion"] = 1;
    root.remove("calibration");
    QJsonArray measurements;
    for (const QJsonValue &m : root.value("measurements").toArray()) {
        QJsonObject one = m.toObject();
        for (const char *key : {"fineEdges", "fineMs", "correctedMs", "uncertaintyMs"})
            one.remove(key);
        measurements.append(one);
    }
    root["measurements"] = measurements;
    QFile v1(dir.filePath("v1.json"));
    QVERIFY(v1.open(QIODevice::WriteOnly));
    v1.write(QJsonDocument(root).toJson());
    v1.close();
    o = run({"--compare", v1.fileName(), v2}, dir.path());
    QVERIFY2(o.status == ExitDone, qPrintable(o.err + o.out));
    QVERIFY2(o.out.contains(QRegularExpression("B - A: 0.000 ms, .*: not significant")), qPrintable(o.out));
}

// A seeded run's report and JUnit file, each read by an independent parser
// (check_report.py): the report's figures against the record, nothing in it
// from outside the file, rendered by a headless Chromium to an A4 PDF and a
// PNG; the JUnit file with a met, an exceeded and an inconclusive limit. Then
// the same run's report from its record (the last traces from its trace
// files), from that record as version 1 wrote it, and from a hostile one;
// and the JUnit file of limits the command never got to judge.
void TestHeadless::reportAndJUnit()
{
    QTemporaryDir dir;
    benchsim::Scenario scenario;
    scenario.oscType = "Benlo";
    scenario.benloPoints = 4000;
    scenario.jitterMs = 3.0;
    scenario.seed = 5;
    scenario.rejectFirst = 1;
    scenario.vaValue = 35.5;
    benchsim::Bench bench(scenario);
    QVERIFY(bench.start());
    WriteSettings(dir.filePath("bench.cfg"), bench, true);
    const QString label = "nightly <7> & co";
    // Guarded, Source->HDMI has no uncertainty without a calibration entry
    // for it: inconclusive.
    const QList<QStringList> limits{
        {"src2snk<=200", "met"}, {"max:src2snk<=100", "exceeded"}, {"src2hd<=100", "inconclusive"}};
    Outcome o = run({"--measure", "6", "--settings", "bench.cfg", "--out", "runs", "--label", label, "--guarded",
                     "--limit", limits[0][0], "--limit", limits[1][0], "--limit", limits[2][0], "--report",
                     "runs/report.html", "--junit", "runs/junit.xml"},
                    dir.path());
    bench.stop();
    QVERIFY2(o.status == ExitLimit, qPrintable(o.err + o.out));
    QVERIFY2(o.out.endsWith("Report: runs/report.html\nJUnit: runs/junit.xml\n"), qPrintable(o.out));
    const QString record = Files(dir.filePath("runs"), "*_Run.json").value(0);
    QDir(dir.path()).mkdir("render");
    QJsonObject expect{{"record", record},
                       {"html", dir.filePath("runs/report.html")},
                       {"junit", dir.filePath("runs/junit.xml")},
                       {"render", dir.filePath("render")},
                       {"suite", label},
                       {"judged", true},
                       {"traces", true},
                       {"limits", Limits(limits, true)}};
    QString mismatches = CheckReport(expect, dir.path());
    QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches));

    // From the record: no limits judged, the traces read from its files.
    o = run({"--report", "from.html", "--from", record}, dir.path());
    QVERIFY2(o.status == ExitDone && o.out == "Report: from.html\n", qPrintable(o.err + o.out));
    expect["html"] = dir.filePath("from.html");
    expect["junit"] = QJsonValue();
    expect["render"] = QJsonValue();
    expect["judged"] = false;
    mismatches = CheckReport(expect, dir.path());
    QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches));

    // Version 1, beside the same trace files.
    const QString v1 = dir.filePath("runs/v1.json");
    Write(v1, AsVersion1(Contents(record)));
    o = run({"--report", "v1.html", "--from", v1}, dir.path());
    QVERIFY2(o.status == ExitDone, qPrintable(o.err + o.out));
    expect["record"] = v1;
    expect["html"] = dir.filePath("v1.html");
    mismatches = CheckReport(expect, dir.path());
    QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches));

    // Markup in the label and an instrument's answer stays text; a trace
    // file named outside the record's folder is not read.
    QJsonObject hostile = QJsonDocument::fromJson(Contents(record)).object();
    hostile["label"] = "<script>alert(1)</script><img src=x onerror=alert(2)>";
    QJsonObject instruments{{"spectrumAnalyzer", QJsonObject{{"identity", QString("Benchsim\x01<b>SA</b>")}}}};
    hostile["instruments"] = instruments;
    QJsonArray measurements = hostile.value("measurements").toArray();
    QJsonObject last = measurements.last().toObject();
    QJsonObject files = last.value("traceFiles").toObject();
    files["sink"] = "../../../../etc/passwd";
    last["traceFiles"] = files;
    measurements.replace(measurements.size() - 1, last);
    hostile["measurements"] = measurements;
    const QString bad = dir.filePath("runs/hostile.json");
    Write(bad, QJsonDocument(hostile).toJson());
    o = run({"--report", "hostile.html", "--from", bad}, dir.path());
    QVERIFY2(o.status == ExitDone && o.err.contains("is no file beside the record"), qPrintable(o.err + o.out));
    const QString html = QString::fromUtf8(Contents(dir.filePath("hostile.html")));
    QVERIFY(html.contains("&lt;script&gt;alert(1)&lt;/script&gt;&lt;img src=x onerror=alert(2)&gt;"));
    QVERIFY(html.contains(QString::fromUtf8("Benchsim\uFFFD&lt;b&gt;SA&lt;/b&gt;")));
    QVERIFY(!html.contains("root:"));
    Write(v1, Contents(record).left(2000));
    const Outcome cut = run({"--report", "cut.html", "--from", v1}, dir.path());
    QVERIFY2(cut.status == ExitFailure && cut.err.contains("not a run record"), qPrintable(cut.err));
    QVERIFY(!QFile::exists(dir.filePath("cut.html")));

    // The command ended before the run: each limit an error saying so.
    o = run({"--measure", "3", "--settings", "nowhere.cfg", "--label", label, "--limit", limits[0][0], "--junit",
             "nj.xml"},
            dir.path());
    QCOMPARE(o.status, int(ExitUsage));
    expect = QJsonObject{{"junit", dir.filePath("nj.xml")},
                         {"suite", label},
                         {"judged", false},
                         {"limits", Limits({{limits[0][0], "notJudged"}}, false)}};
    mismatches = CheckReport(expect, dir.path());
    QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches));
}

// The console against the simulated oscilloscope over both transports: the
// commands reach it as typed, in order, from the command line or from
// standard input alike; replies print as text, a block as its size and first
// values, and --raw gets the block's data whole.
void TestHeadless::scpiConsole_data()
{
    QTest::addColumn<bool>("vxi11");
    QTest::newRow("raw socket") << false;
    QTest::newRow("VXI-11") << true;
}

void TestHeadless::scpiConsole()
{
    QFETCH(bool, vxi11);
    QTemporaryDir dir;
    benchsim::Bench bench{benchsim::Scenario()};
    QString error;
    QVERIFY2(bench.start(&error) && (!vxi11 || bench.startVxi11(&error, false)), qPrintable(error));
    const QString rsrc = vxi11 ? bench.vxi11Resource("osc") : bench.resource("osc");
    const QStringList commands{"FORM REAL,32;*TRG;*OPC?", "CHAN1:DATA?", "CHAN1:SCAL 0.05", "*IDN?"};

    const Outcome o = run(QStringList{"--scpi", rsrc, "--raw", "trace.bin"} + commands, dir.path());
    QVERIFY2(o.status == ExitDone, qPrintable(o.err + o.out));
    QCOMPARE(o.err, QString());
    const QStringList lines = o.out.split('\n');
    QCOMPARE(lines.size(), 4); // three replies and the last line's end
    QCOMPARE(lines[0], QStringLiteral("1"));
    const QRegularExpression block("^block of (\\d+) bytes, written to trace.bin, float32:( [-+0-9.e]+){8} \\.\\.\\.$");
    const QRegularExpressionMatch m = block.match(lines[1]);
    QVERIFY2(m.hasMatch(), qPrintable(lines[1]));
    QCOMPARE(lines[2], QStringLiteral("Orvix,SIMSCOPE-4,O000301,1.0"));

    // What the instrument sent, as its log kept it: the file holds the
    // block's data and nothing of its header or terminator.
    const QVector<benchsim::LogEntry> log = bench.log("osc");
    QStringList sent;
    for (const benchsim::LogEntry &e : log)
        sent << QString::fromLatin1(e.command);
    QCOMPARE(sent, commands);
    const QByteArray header = "#5" + m.captured(1).toLatin1();
    QVERIFY(log[1].reply.startsWith(header));
    QCOMPARE(qint64(log[1].replySize), header.size() + m.captured(1).toLongLong() + 1);
    const QByteArray data = Contents(QDir(dir.path()).filePath("trace.bin"));
    QCOMPARE(data.size(), m.captured(1).toInt());
    QCOMPARE(data.left(log[1].reply.size() - header.size()), log[1].reply.mid(header.size()));

    // The same commands typed on standard input, one a line (blank lines
    // skipped), give the same replies and exchanges.
    bench.clearLog();
    const Outcome typed = run({"--scpi", rsrc, "--raw", "trace.bin"}, dir.path(), commands.join("\n\n").toLatin1() + "\n");
    QVERIFY2(typed.status == ExitDone, qPrintable(typed.err + typed.out));
    QCOMPARE(typed.out.split('\n').size(), 4);
    QCOMPARE(typed.out.split('\n')[2], lines[2]);
    QCOMPARE(bench.commands("osc").size(), commands.size());
    bench.stop();
}

// What fails says so on standard error, names the command, and makes the
// status 2; the commands after it are still sent and answered.
void TestHeadless::scpiConsoleFailures_data()
{
    QTest::addColumn<int>("transport"); // 0 raw socket, 1 VXI-11, 2 HiSLIP
    QTest::addColumn<QString>("fault"); // benchsim's --fault form, on the oscilloscope
    QTest::addColumn<QStringList>("args"); // after "--scpi RESOURCE"
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QString>("out");

    const QStringList block{"--timeout", "300", "FORM REAL,32;*TRG;*OPC?", "CHAN1:DATA?", "*OPC?"};
    QTest::newRow("query never answered") << 0 << "osc:NoReply:*IDN?" << QStringList{"--timeout", "300", "*IDN?", "*OPC?"}
                                          << int(ExitFailure) << "*IDN?: no reply: no answer within 0.3 s" << "1\n";
    QTest::newRow("query never answered, VXI-11")
        << 1 << "osc:NoReply:*IDN?" << QStringList{"--timeout", "300", "*IDN?", "*OPC?"} << int(ExitFailure)
        << "*IDN?: no reply: no answer within 0.3 s" << "1\n";
    // An instrument's own words reach the operator: a HiSLIP server's Error.
    QTest::newRow("error message, HiSLIP")
        << 2 << "osc:DeviceIoError:*IDN?" << QStringList{"*IDN?", "*OPC?"} << int(ExitFailure)
        << "*IDN?: no reply: I/O error (the instrument: error from the server: unidentified error (Instrument I/O error))" << "1\n";
    QTest::newRow("block shorter than its count")
        << 0 << "osc:BlockShortData:CHAN1:DATA?" << block << int(ExitFailure)
        << "CHAN1:DATA?: block of 40000 bytes cut short after" << "1\n1\n";
    QTest::newRow("block of a billion bytes")
        << 1 << "osc:BlockHugeCount:CHAN1:DATA?" << block << int(ExitFailure)
        << "CHAN1:DATA?: block of 999999999 bytes declared, more than the 40000000 read at most" << "1\n1\n";
    QTest::newRow("raw file not writable")
        << 0 << "" << QStringList{"--raw", "none/trace.bin", "FORM REAL,32;*TRG;*OPC?", "CHAN1:DATA?", "*OPC?"}
        << int(ExitFailure) << "CHAN1:DATA?: block of 40000 bytes not written to none/trace.bin: file could not be opened"
        << "1\n1\n";
    QTest::newRow("no instrument at the address") << 0 << "closed" << QStringList{"*IDN?"} << int(ExitFailure)
                                                  << "Cannot open TCPIP::127.0.0.1::" << "";
    QTest::newRow("option of another mode") << 0 << "" << QStringList{"*IDN?", "--measure", "3"} << int(ExitUsage)
                                            << "--measure does not go with --scpi" << "";
    QTest::newRow("time-out of no time") << 0 << "" << QStringList{"--timeout", "0", "*IDN?"} << int(ExitUsage)
                                         << "--timeout takes whole milliseconds from 1 to 3600000, not \"0\"" << "";
}

void TestHeadless::scpiConsoleFailures()
{
    QFETCH(int, transport);
    QFETCH(QString, fault);
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, says);
    QFETCH(QString, out);
    QTemporaryDir dir;
    benchsim::Bench bench{benchsim::Scenario()};
    QString error;
    QVERIFY2(bench.start(&error) && (transport != 1 || bench.startVxi11(&error, false))
                 && (transport != 2 || bench.startHislip(&error)),
             qPrintable(error));
    if (fault.contains(':')) {
        benchsim::Fault f;
        QVERIFY2(benchsim::Fault::fromOption(fault, &f, &error), qPrintable(error));
        bench.addFault(f);
    }
    const QString rsrc = transport == 1   ? bench.vxi11Resource("osc")
                         : transport == 2 ? bench.hislipResource("osc")
                                          : bench.resource("osc");
    if (fault == "closed")
        bench.stop();
    const Outcome o = run(QStringList{"--scpi", rsrc} + args, dir.path());
    bench.stop();
    QVERIFY2(o.status == status, qPrintable(QString::number(o.status) + "\n" + o.err + o.out));
    QVERIFY2(o.err.contains(says), qPrintable(o.err));
    QCOMPARE(o.out, out);
    QVERIFY(!QFileInfo::exists(QDir(dir.path()).filePath("none/trace.bin")));
}

QTEST_MAIN(TestHeadless)
#include "tst_headless.moc"
