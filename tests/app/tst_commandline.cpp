// What the command line accepts and refuses, how limits are read and judged,
// how a label enters the file names, and the histogram bins two runs share.
#include "app/commandline.h"
#include "app/progresslines.h"
#include "app/runlimits.h"
#include "measurement/histbins.h"

#include <QtTest>

#include <cmath>
#include <cstdio>

Q_DECLARE_METATYPE(CommandLine::Mode)

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void limits_data();
    void limits();
    void guardedLimits_data();
    void guardedLimits();
    void labeledStamp_data();
    void labeledStamp();
    void bins();
    void windowNeedsADisplay();
    void progressBarFitsTheTerminal_data();
    void progressBarFitsTheTerminal();
    void triggerHint();
};

void TestCommandLine::parse_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("cli");               // WantsCommandLine
    QTest::addColumn<CommandLine::Mode>("mode"); // Window: refused
    QTest::addColumn<QString>("seen");           // the fields that count, or the error's gist

    using M = CommandLine::Mode;
    QTest::newRow("no arguments") << QStringList{} << false << M::Window << "nothing to do";
    // Qt's own options are the window's; anything else is ours, and refused
    // unless we know it.
    QTest::newRow("qt's own options") << QStringList{"-platform", "xcb", "-style=fusion", "-reverse"} << false
                                      << M::Window << "-platform is for the window";
    QTest::newRow("qt option without its value") << QStringList{"-style"} << true << M::Window << "-style needs a value";
    QTest::newRow("single-dash unknown") << QStringList{"-v"} << true << M::Window << "unknown option -v";
    QTest::newRow("a file name") << QStringList{"run.json"} << true << M::Window << "unexpected argument \"run.json\"";
    QTest::newRow("qt option among ours") << QStringList{"--measure", "3", "-platform", "offscreen"} << true
                                          << M::Window << "-platform is for the window";
    QTest::newRow("plot as SVG")
        << QStringList{"--compare", "a.json", "b.json", "--plot", "p.SVG"} << true << M::Compare << "a.json b.json p.SVG";
    QTest::newRow("plot in an unknown format")
        << QStringList{"--compare", "a.json", "b.json", "--plot", "p.gif"} << true << M::Window
        << "--plot writes PNG, JPEG, SVG or PDF";
    QTest::newRow("measure, all options")
        << QStringList{"--measure", "20", "--settings", "b.cfg", "--out=runs", "--label", "x y", "--no-traces",
                       "--limit", "src2snk<=150", "--limit=p95:src2rf<=60"}
        << true << M::Measure << "20 b.cfg runs x y 1 2 0 ";
    QTest::newRow("measure, guarded with a calibration")
        << QStringList{"--measure", "5", "--guarded", "--calibration=c.json", "--limit", "src2snk<=150"} << true
        << M::Measure << "5    0 1 1 c.json";
    QTest::newRow("calibrate")
        << QStringList{"--calibrate", "20", "--path", "SRC2SNK", "--calibration", "c.json", "--reference-ms", "0,5",
                       "--out", "runs"}
        << true << M::Calibrate << "20 src2Snk c.json 0.5 runs";
    QTest::newRow("calibrate without a path") << QStringList{"--calibrate", "5", "--calibration", "c.json"} << true
                                              << M::Window << "--calibrate needs --path";
    QTest::newRow("calibrate without a file") << QStringList{"--calibrate", "5", "--path", "src2rf"} << true
                                              << M::Window << "needs --calibration FILE";
    QTest::newRow("calibrate the HDMI path")
        << QStringList{"--calibrate", "5", "--path", "src2hd", "--calibration", "c.json"} << true << M::Window
        << "--path is src2Rf or src2Snk";
    QTest::newRow("reference without calibrating") << QStringList{"--measure", "3", "--reference-ms", "1"} << true
                                                   << M::Window << "--reference-ms needs --calibrate N";
    QTest::newRow("reference out of range")
        << QStringList{"--calibrate", "3", "--path", "src2rf", "--calibration", "c", "--reference-ms", "1e9"} << true
        << M::Window << "from -1000 to 1000";
    QTest::newRow("guarded limits while calibrating")
        << QStringList{"--calibrate", "3", "--path", "src2rf", "--calibration", "c", "--guarded"} << true << M::Window
        << "--guarded needs --measure N";
    QTest::newRow("measure and calibrate") << QStringList{"--measure", "3", "--calibrate", "3"} << true << M::Window
                                           << "do not go together";
    QTest::newRow("calibration with compare") << QStringList{"--compare", "a", "b", "--calibration", "c"} << true
                                              << M::Window << "do not go together";
    QTest::newRow("help wins") << QStringList{"--measure", "abc", "-h"} << true << M::Help << "";
    QTest::newRow("version") << QStringList{"--version"} << true << M::Version << "";
    QTest::newRow("compare with plot")
        << QStringList{"--compare", "a.json", "b.json", "--plot", "p.png"} << true << M::Compare << "a.json b.json p.png";
    QTest::newRow("count 0") << QStringList{"--measure", "0"} << true << M::Window << "whole number from 1";
    QTest::newRow("count missing") << QStringList{"--measure"} << true << M::Window << "--measure needs a value";
    QTest::newRow("one file to compare") << QStringList{"--compare", "a.json"} << true << M::Window
                                         << "needs two files";
    QTest::newRow("typo") << QStringList{"--mesure", "3"} << true << M::Window << "unknown option --mesure";
    QTest::newRow("twice") << QStringList{"--measure", "3", "--measure", "4"} << true << M::Window << "given twice";
    QTest::newRow("both modes") << QStringList{"--measure", "3", "--compare", "a", "b"} << true << M::Window
                                << "do not go together";
    QTest::newRow("plot alone") << QStringList{"--plot", "p.png"} << true << M::Window << "--plot needs --compare";
    QTest::newRow("empty value") << QStringList{"--measure", "3", "--settings="} << true << M::Window
                                 << "--settings needs a value";
    QTest::newRow("stray word") << QStringList{"--measure", "3", "extra"} << true << M::Window
                                << "unexpected argument \"extra\"";
    QTest::newRow("measure with report and JUnit")
        << QStringList{"--measure", "4", "--limit", "src2snk<=150", "--report", "r.HTML", "--junit=j.xml"} << true
        << M::Measure << "r.HTML j.xml src2snk<=150";
    QTest::newRow("calibrate with report")
        << QStringList{"--calibrate", "3", "--path", "src2rf", "--calibration", "c", "--report", "r.htm"} << true
        << M::Calibrate << "3 src2Rf c 0 ";
    QTest::newRow("report from a record") << QStringList{"--from", "run.json", "--report", "r.html"} << true
                                          << M::Report << "r.html run.json";
    QTest::newRow("report not HTML") << QStringList{"--measure", "3", "--report", "r.pdf"} << true << M::Window
                                     << "--report writes HTML";
    QTest::newRow("JUnit taking the next option")
        << QStringList{"--measure", "3", "--junit", "--limit", "src2snk<=1"} << true << M::Window
        << "--junit writes XML: give it a FILE.xml, not \"--limit\"";
    QTest::newRow("JUnit without limits") << QStringList{"--measure", "3", "--junit", "j.xml"} << true << M::Window
                                          << "--junit needs at least one --limit";
    QTest::newRow("JUnit while calibrating")
        << QStringList{"--calibrate", "3", "--path", "src2rf", "--calibration", "c", "--junit", "j.xml"} << true
        << M::Window << "--junit needs --measure N";
    QTest::newRow("from without report") << QStringList{"--from", "run.json"} << true << M::Window
                                         << "--from needs --report FILE.html";
    QTest::newRow("from while measuring")
        << QStringList{"--measure", "3", "--from", "run.json", "--report", "r.html"} << true << M::Window
        << "--measure does not go with --from";
    QTest::newRow("report alone") << QStringList{"--report", "r.html"} << true << M::Window
                                  << "--report needs --measure N, --calibrate N or --from RUN.json";
    QTest::newRow("report with compare") << QStringList{"--compare", "a", "b", "--report", "r.html"} << true
                                         << M::Window << "--report needs";
    QTest::newRow("discover") << QStringList{"--discover"} << true << M::Discover << "1000 ";
    QTest::newRow("discover hosts and time-out")
        << QStringList{"10.0.0.5", "--discover", "--timeout=2500", "192.168.7.0/24"} << true << M::Discover
        << "2500 10.0.0.5 192.168.7.0/24";
    QTest::newRow("discover help wins") << QStringList{"--discover", "--timeout", "x", "--help"} << true << M::Help
                                        << "";
    QTest::newRow("discover time-out 0") << QStringList{"--discover", "--timeout", "0"} << true << M::Window
                                         << "from 1 to 60000, not \"0\"";
    QTest::newRow("discover time-out missing") << QStringList{"--discover", "--timeout"} << true << M::Window
                                               << "from 1 to 60000, not \"\"";
    QTest::newRow("discover time-out twice") << QStringList{"--discover", "--timeout=5", "--timeout=6"} << true
                                             << M::Window << "--timeout is given twice";
    QTest::newRow("discover with measure") << QStringList{"--measure", "3", "--discover"} << true << M::Window
                                           << "--measure does not go with --discover";
}

void TestCommandLine::parse()
{
    QFETCH(QStringList, args);
    QFETCH(bool, cli);
    QFETCH(CommandLine::Mode, mode);
    QFETCH(QString, seen);

    const QStringList all = QStringList{"QuenviaCodecTiming"} + args;
    QCOMPARE(WantsCommandLine(all), cli);
    CommandLine cl;
    QString error;
    const bool ok = ParseCommandLine(all, &cl, &error);
    QCOMPARE(ok, mode != CommandLine::Mode::Window);
    if (!ok) {
        QVERIFY2(error.contains(seen), qPrintable(error));
        return;
    }
    QCOMPARE(cl.mode, mode);
    // The reports' files, and each limit as typed (the JUnit test case's name).
    if (mode == CommandLine::Mode::Measure && !cl.reportFile.isEmpty()) {
        QStringList typed;
        for (const Limit &l : cl.limits)
            typed << l.text;
        QCOMPARE(QStringList({cl.reportFile, cl.junitFile, typed.join(' ')}).join(' '), seen);
        return;
    }
    if (mode == CommandLine::Mode::Measure)
        QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
                     .arg(cl.count)
                     .arg(cl.settingsFile, cl.outDir, cl.label)
                     .arg(int(cl.noTraces))
                     .arg(cl.limits.size())
                     .arg(int(cl.guarded))
                     .arg(cl.calibrationFile),
                 seen);
    if (mode == CommandLine::Mode::Calibrate)
        QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5")
                     .arg(cl.count)
                     .arg(QLatin1String(PathInfo(cl.calibratePath).key), cl.calibrationFile)
                     .arg(cl.referenceMs)
                     .arg(cl.outDir),
                 seen);
    if (mode == CommandLine::Mode::Compare)
        QCOMPARE(cl.compareA + ' ' + cl.compareB + ' ' + cl.plotFile, seen);
    if (mode == CommandLine::Mode::Report)
        QCOMPARE(cl.reportFile + ' ' + cl.fromRecord, seen);
    if (mode == CommandLine::Mode::Discover)
        QCOMPARE(QString::number(cl.discover.timeoutMs) + ' ' + cl.discover.hosts.join(' '), seen);
}

void TestCommandLine::limits_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("name"); // empty: refused
    QTest::addColumn<double>("maxMs");
    QTest::addColumn<QString>("verdict"); // against the run below

    QTest::newRow("mean by default") << "src2snk<=150" << "Source->Sink mean" << 150.0
                                     << "Source->Sink mean 120.000 ms <= 150 ms: met";
    QTest::newRow("just met") << "src2snk<=120" << "Source->Sink mean" << 120.0
                              << "Source->Sink mean 120.000 ms <= 120 ms: met";
    QTest::newRow("p95 exceeded") << "P95:Src2Snk <= 123,5" << "Source->Sink p95" << 123.5
                                  << "Source->Sink p95 123.600 ms exceeds 123.5 ms";
    QTest::newRow("max") << "max:src2rf<=44" << "Source->RF max" << 44.0 << "Source->RF max 44.000 ms <= 44 ms: met";
    QTest::newRow("no value counts as exceeded") << "median:src2hd<=40" << "Source->HDMI median" << 40.0
                                                 << "Source->HDMI median has no value: limit 40 ms not met";
    QTest::newRow("no <=") << "src2snk<150" << "" << 0.0 << "has no \"<=\"";
    QTest::newRow("unknown path") << "src2hdmi<=1" << "" << 0.0 << "the path is src2rf";
    QTest::newRow("unknown figure") << "p99:src2snk<=1" << "" << 0.0 << "the figure is mean";
    QTest::newRow("no number") << "src2snk<=fast" << "" << 0.0 << "no number";
    QTest::newRow("negative") << "src2snk<=-1" << "" << 0.0 << "no number";
}

void TestCommandLine::limits()
{
    QFETCH(QString, text);
    QFETCH(QString, name);
    QFETCH(double, maxMs);
    QFETCH(QString, verdict);

    Limit limit;
    QString error;
    const bool ok = ParseLimit(text, &limit, &error);
    QCOMPARE(ok, !name.isEmpty());
    if (!ok) {
        QVERIFY2(error.contains(verdict), qPrintable(error));
        return;
    }
    QCOMPARE(LimitName(limit), name);
    QCOMPARE(limit.maxMs, maxMs);

    // Sink 116..124 (p95 123.6), RF up to 44, HDMI with no reading at all.
    RunStats stats;
    stats.src2Snk = ComputePathStats({116, 118, 120, 122, 124});
    stats.src2Rf = ComputePathStats({40, 44, std::nan("")});
    stats.src2Hd = ComputePathStats({std::nan(""), std::nan("")});
    const LimitCheck check = CheckLimit(limit, stats);
    QCOMPARE(LimitCheckText(check), verdict);
    QCOMPARE(check.exceeded, !verdict.endsWith(": met"));
}

void TestCommandLine::guardedLimits_data()
{
    QTest::addColumn<QString>("limit");
    QTest::addColumn<QString>("verdict"); // against the run below

    // Sink 119.9, 120.0, 120.1 ms: mean 120.0 with U = t(0.975, 2) x 0.1 / sqrt(3) = 0.248 ms;
    // each delay U = 2 x sqrt(2) x 1 us.
    QTest::newRow("met beyond U") << "src2snk<=120.3"
                                  << "Source->Sink mean (corrected) 120.000 ms +/- 0.249 ms <= 120.3 ms: met";
    QTest::newRow("within U: inconclusive")
        << "src2snk<=120.1" << "Source->Sink mean (corrected) 120.000 ms +/- 0.249 ms: inconclusive against 120.1 ms";
    QTest::newRow("exceeded beyond U") << "src2snk<=119.7"
                                       << "Source->Sink mean (corrected) 120.000 ms +/- 0.249 ms exceeds 119.7 ms";
    QTest::newRow("max with a single delay's U")
        << "max:src2snk<=120.1" << "Source->Sink max (corrected) 120.100 ms +/- 0.003 ms: inconclusive against 120.1 ms";
    QTest::newRow("max met") << "max:src2snk<=120.11"
                             << "Source->Sink max (corrected) 120.100 ms +/- 0.003 ms <= 120.11 ms: met";
    QTest::newRow("reading without an uncertainty")
        << "src2hd<=40" << "Source->HDMI mean (corrected) 35.000 ms has no uncertainty: inconclusive against 40 ms";
    QTest::newRow("no value") << "src2rf<=40" << "Source->RF mean has no value: limit 40 ms not met";
}

void TestCommandLine::guardedLimits()
{
    QFETCH(QString, limit);
    QFETCH(QString, verdict);

    RunRecord run;
    run.settings.hdmi = true;
    run.calibration.timeBasePpm = 0;
    for (double snk : {0.1199, 0.1200, 0.1201}) {
        Measurement m;
        m.src2Snk = snk * 1000;
        m.src2Rf = std::nan(""); // no RF edge
        m.src2Hd = 35.0;
        m.fine.src = FineEdge{0.0, 0.0, 1e-6, 0.0};
        m.fine.snk = FineEdge{snk, 0.0, 1e-6, 0.0};
        run.measurements.append(m);
    }
    Limit l;
    QString error;
    QVERIFY2(ParseLimit(limit, &l, &error), qPrintable(error));
    const LimitCheck check = CheckGuardedLimit(l, run);
    QCOMPARE(LimitCheckText(check), verdict);
    QCOMPARE(check.exceeded, verdict.contains("exceeds") || verdict.contains("not met"));
    QCOMPARE(check.inconclusive, verdict.contains("inconclusive"));
}

void TestCommandLine::labeledStamp_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("stamp");

    QTest::newRow("none") << "" << "2026-03-01_14-05-09_";
    QTest::newRow("plain") << "nightly-7.b_2" << "2026-03-01_14-05-09_nightly-7.b_2_";
    QTest::newRow("space and folders") << "../x y/z" << "2026-03-01_14-05-09_..-x-y-z_";
    QTest::newRow("not ascii") << QString::fromUtf8("Büro") << "2026-03-01_14-05-09_B-ro_";
    QTest::newRow("cut at 64") << QString(80, 'a') << "2026-03-01_14-05-09_" + QString(64, 'a') + "_";
}

void TestCommandLine::labeledStamp()
{
    QFETCH(QString, label);
    QFETCH(QString, stamp);
    QCOMPARE(LabeledStamp("2026-03-01_14-05-09_", label), stamp);
}

void TestCommandLine::bins()
{
    // The edges over both runs together (5 values: bins 5 wide from 10),
    // each run counted into them, NaN left out.
    const double nan = std::nan("");
    SharedBins b = BinTwoRuns({10, 11, nan, 20}, {15, 20});
    QCOMPARE(b.start, 10.0);
    QCOMPARE(b.width, 5.0);
    QCOMPARE(b.countsA, (QVector<int>{2, 0, 1}));
    QCOMPARE(b.countsB, (QVector<int>{0, 1, 1}));

    // All equal: one bin around them; nothing finite: no bins; a span too
    // wide for a double: one bin that holds everything.
    b = BinTwoRuns({35.2, 35.2}, {35.2});
    QCOMPARE(b.countsA, QVector<int>{2});
    QCOMPARE(b.countsB, QVector<int>{1});
    QCOMPARE(b.start, 34.7);
    QVERIFY(BinTwoRuns({nan}, {}).countsA.isEmpty());
    b = BinTwoRuns({-1e308, 1e308}, {0});
    QCOMPARE(b.countsA, QVector<int>{2});
    QCOMPARE(b.countsB, QVector<int>{1});
}

// Without a display the window would abort inside Qt; a platform named on
// the command line or in the environment is trusted.
void TestCommandLine::windowNeedsADisplay()
{
    const QStringList bare{"QuenviaCodecTiming"};
    QProcessEnvironment none;
    QVERIFY(WindowCannotOpen(bare, none).contains("no display"));
    QVERIFY(WindowCannotOpen(bare + QStringList{"-platform", "offscreen"}, none).isEmpty());
    QVERIFY(WindowCannotOpen(bare + QStringList{"-platformtheme", "gtk3"}, none).contains("no display"));
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        QProcessEnvironment env;
        env.insert(name, "x");
        QVERIFY2(WindowCannotOpen(bare, env).isEmpty(), name);
    }
}

void TestCommandLine::progressBarFitsTheTerminal_data()
{
    QTest::addColumn<int>("columns");
    QTest::addColumn<QString>("line");

    QTest::newRow("wide: everything")
        << 200
        << "[##########----------] 6/12 Source->RF 40.1 ms, Source->HDMI 35.2 ms, Source->Sink 120.0 ms | 1 taken "
           "again | about 14 s left";
    QTest::newRow("100: short means")
        << 100 << "[##########----------] 6/12 RF 40.1, HDMI 35.2, Sink 120.0 ms | 1 taken again | about 14 s left";
    QTest::newRow("80: short means, no retakes")
        << 80 << "[##########----------] 6/12 RF 40.1, HDMI 35.2, Sink 120.0 ms | about 14 s left";
    QTest::newRow("60: no means") << 60 << "[##########----------] 6/12 1 taken again | about 14 s left";
    QTest::newRow("50: a narrower bar") << 50 << "[#####-----] 6/12 1 taken again | about 14 s left";
    QTest::newRow("20: cut") << 20 << "[#####-----] 6/12 1";
}

// On a terminal the bar never wraps: it gives up the means' long names, the
// count of retakes, the means, then width, in that order.
void TestCommandLine::progressBarFitsTheTerminal()
{
    QFETCH(int, columns);
    QFETCH(QString, line);
    RunProgress p;
    p.index = 6;
    p.count = 12;
    p.kept = 6;
    p.retaken = 1;
    p.meanRf = 40.12;
    p.meanHd = 35.2;
    p.meanSnk = 120.04;
    p.hdMeasured = true;
    p.secondsLeft = 14.2;
    const QString bar = FittedProgressBar(p, columns);
    QCOMPARE(bar, line);
    QVERIFY(bar.size() < columns);
}

// After an acquisition of the measurement under way timed out, the running
// figures say what to check; retakes of earlier measurements do not count.
void TestCommandLine::triggerHint()
{
    RunRecord sofar;
    sofar.retakes << Retake{1, RetakeReason::NoNewTrace, "*TRG (oscilloscope): no answer in time", true};
    QVERIFY(!ProgressOf(2, 5, sofar, 100).notTriggering);
    QVERIFY(TriggerHintText(ProgressOf(2, 5, sofar, 100)).isEmpty());
    sofar.retakes << Retake{2, RetakeReason::OutsideWindow, "first sample 0.5 V", false};
    QVERIFY(!ProgressOf(2, 5, sofar, 100).notTriggering);
    sofar.retakes << Retake{2, RetakeReason::NoNewTrace, "*TRG (oscilloscope): no answer in time", true};
    QCOMPARE(TriggerHintText(ProgressOf(2, 5, sofar, 100)),
             QStringLiteral("no acquisition is triggering: check the trigger level and the source signal"));

    // In a log: once per measurement, after the first retake that timed out.
    std::FILE *log = std::tmpfile();
    QVERIFY(log);
    ProgressLines lines(log, false, 5);
    sofar.retakes << Retake{2, RetakeReason::NoNewTrace, "*TRG (oscilloscope): no answer in time", true};
    lines.acquiring(2, sofar);
    lines.finish(sofar);
    std::rewind(log);
    QByteArray text(4096, '\0');
    text.truncate(int(std::fread(text.data(), 1, size_t(text.size()), log)));
    std::fclose(log);
    QCOMPARE(text.count("no acquisition is triggering"), 2); // for measurements 1 and 2
    QVERIFY2(text.contains("again for 2/5: no new trace (*TRG (oscilloscope): no answer in time)\n"
                           "no acquisition is triggering"),
             text.constData());
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
