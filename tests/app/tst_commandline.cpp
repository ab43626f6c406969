// What the command line accepts and refuses, how limits are read and judged,
// how a label enters the file names, and the histogram bins two runs share.
#include "app/commandline.h"
#include "app/runlimits.h"
#include "measurement/histbins.h"

#include <QtTest>

#include <cmath>

Q_DECLARE_METATYPE(CommandLine::Mode)

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void limits_data();
    void limits();
    void labeledStamp_data();
    void labeledStamp();
    void bins();
};

void TestCommandLine::parse_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("cli");               // WantsCommandLine
    QTest::addColumn<CommandLine::Mode>("mode"); // Window: refused
    QTest::addColumn<QString>("seen");           // the fields that count, or the error's gist

    using M = CommandLine::Mode;
    QTest::newRow("no arguments") << QStringList{} << false << M::Window << "nothing to do";
    QTest::newRow("qt's own option") << QStringList{"-platform", "xcb"} << false << M::Window << "unexpected argument";
    QTest::newRow("measure, all options")
        << QStringList{"--measure", "20", "--settings", "b.cfg", "--out=runs", "--label", "x y", "--no-traces",
                       "--limit", "src2snk<=150", "--limit=p95:src2rf<=60"}
        << true << M::Measure << "20 b.cfg runs x y 1 2";
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
    if (mode == CommandLine::Mode::Measure)
        QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6")
                     .arg(cl.count)
                     .arg(cl.settingsFile, cl.outDir, cl.label)
                     .arg(int(cl.noTraces))
                     .arg(cl.limits.size()),
                 seen);
    if (mode == CommandLine::Mode::Compare)
        QCOMPARE(cl.compareA + ' ' + cl.compareB + ' ' + cl.plotFile, seen);
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

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
