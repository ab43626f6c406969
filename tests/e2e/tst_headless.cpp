// The real executable without its window, started with no display and no Qt
// platform set, against the simulated bench: the same run as through the
// window's buttons, every exit status, Ctrl-C in the middle of a run, the
// comparison of two stored runs, and the SCPI console.
#include "runbench.h"

#include "app/commandline.h"
#include "app/settingsfile.h"
#include "measurement/runjson.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>

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
    void compare();
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
    QVERIFY2(o.err.contains(QRegularExpression("^4/4 Source->RF [0-9.]+ ms, Source->HDMI 35.500, Source->Sink",
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
        << "Oscilloscope: Init failed at open: connection refused";
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

    const Outcome ac = run({"--compare", a, c}, home.path());
    QVERIFY2(ac.status == ExitDone, qPrintable(ac.err + ac.out));
    QCOMPARE(ac.out.count(": not significant\n"), 2);

    const Outcome missing = run({"--compare", a, home.filePath("none.json")}, home.path());
    QCOMPARE(missing.status, int(ExitFailure));
    QVERIFY(missing.err.contains("none.json"));
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
    QTest::addColumn<bool>("vxi11");
    QTest::addColumn<QString>("fault"); // benchsim's --fault form, on the oscilloscope
    QTest::addColumn<QStringList>("args"); // after "--scpi RESOURCE"
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QString>("out");

    const QStringList block{"--timeout", "300", "FORM REAL,32;*TRG;*OPC?", "CHAN1:DATA?", "*OPC?"};
    QTest::newRow("query never answered") << false << "osc:NoReply:*IDN?" << QStringList{"--timeout", "300", "*IDN?", "*OPC?"}
                                          << int(ExitFailure) << "*IDN?: no reply: no answer within 0.3 s" << "1\n";
    QTest::newRow("query never answered, VXI-11")
        << true << "osc:NoReply:*IDN?" << QStringList{"--timeout", "300", "*IDN?", "*OPC?"} << int(ExitFailure)
        << "*IDN?: no reply: no answer within 0.3 s" << "1\n";
    QTest::newRow("block shorter than its count")
        << false << "osc:BlockShortData:CHAN1:DATA?" << block << int(ExitFailure)
        << "CHAN1:DATA?: block of 40000 bytes cut short after" << "1\n1\n";
    QTest::newRow("block of a billion bytes")
        << true << "osc:BlockHugeCount:CHAN1:DATA?" << block << int(ExitFailure)
        << "CHAN1:DATA?: block of 999999999 bytes declared, more than the 40000000 read at most" << "1\n1\n";
    QTest::newRow("raw file not writable")
        << false << "" << QStringList{"--raw", "none/trace.bin", "FORM REAL,32;*TRG;*OPC?", "CHAN1:DATA?", "*OPC?"}
        << int(ExitFailure) << "CHAN1:DATA?: block of 40000 bytes not written to none/trace.bin: file could not be opened"
        << "1\n1\n";
    QTest::newRow("no instrument at the address") << false << "closed" << QStringList{"*IDN?"} << int(ExitFailure)
                                                  << "Cannot open TCPIP::127.0.0.1::" << "";
    QTest::newRow("option of another mode") << false << "" << QStringList{"*IDN?", "--measure", "3"} << int(ExitUsage)
                                            << "--measure does not go with --scpi" << "";
    QTest::newRow("time-out of no time") << false << "" << QStringList{"--timeout", "0", "*IDN?"} << int(ExitUsage)
                                         << "--timeout takes whole milliseconds from 1 to 3600000, not \"0\"" << "";
}

void TestHeadless::scpiConsoleFailures()
{
    QFETCH(bool, vxi11);
    QFETCH(QString, fault);
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, says);
    QFETCH(QString, out);
    QTemporaryDir dir;
    benchsim::Bench bench{benchsim::Scenario()};
    QString error;
    QVERIFY2(bench.start(&error) && (!vxi11 || bench.startVxi11(&error, false)), qPrintable(error));
    if (fault.contains(':')) {
        benchsim::Fault f;
        QVERIFY2(benchsim::Fault::fromOption(fault, &f, &error), qPrintable(error));
        bench.addFault(f);
    }
    const QString rsrc = vxi11 ? bench.vxi11Resource("osc") : bench.resource("osc");
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
