// The statistics of a run against values worked out by hand and against
// the printed table of Student's t distribution.
#include "measurement/delaycalc.h"
#include "measurement/runstats.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

bool Near(double a, double b, double tol) { return (std::isnan(a) && std::isnan(b)) || std::fabs(a - b) <= tol; }
} // namespace

class TestRunStats : public QObject
{
    Q_OBJECT

private slots:
    void tQuantile_data();
    void tQuantile();
    void pathStats_data();
    void pathStats();
    void percentilesAgreeWithTheSortedRule();
    void hdmiOffIsNotMeasured();
    void welch();
};

void TestRunStats::tQuantile_data()
{
    QTest::addColumn<double>("df");
    QTest::addColumn<double>("t975");
    // Two-sided 95 % critical values as printed in statistics tables.
    QTest::newRow("1") << 1.0 << 12.7062;
    QTest::newRow("2") << 2.0 << 4.3027;
    QTest::newRow("3") << 3.0 << 3.1824;
    QTest::newRow("4") << 4.0 << 2.7764;
    QTest::newRow("5") << 5.0 << 2.5706;
    QTest::newRow("9") << 9.0 << 2.2622;
    QTest::newRow("29") << 29.0 << 2.0452;
    QTest::newRow("120") << 120.0 << 1.9799;
    QTest::newRow("1e6, the normal limit") << 1e6 << 1.9600;
    // Welch's fractional df, checked by integrating the density numerically.
    QTest::newRow("2.5") << 2.5 << 3.5747;
}

void TestRunStats::tQuantile()
{
    QFETCH(double, df);
    QFETCH(double, t975);
    QVERIFY2(Near(StudentTQuantile(0.975, df), t975, 1e-4), qPrintable(QString::number(StudentTQuantile(0.975, df), 'g', 10)));
    QVERIFY(Near(StudentTQuantile(0.025, df), -t975, 1e-4));
    QCOMPARE(StudentTQuantile(0.5, df), 0.0);
}

void TestRunStats::pathStats_data()
{
    QTest::addColumn<QVector<double>>("values");
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("missing");
    QTest::addColumn<QVector<double>>("expected"); // mean sd min max median p5 p95 ciLow ciHigh

    QTest::newRow("none") << QVector<double>{} << 0 << 0
                          << QVector<double>{NaN, NaN, NaN, NaN, NaN, NaN, NaN, NaN, NaN};
    QTest::newRow("only nan") << QVector<double>{NaN, NaN} << 0 << 2
                              << QVector<double>{NaN, NaN, NaN, NaN, NaN, NaN, NaN, NaN, NaN};
    QTest::newRow("one") << QVector<double>{40.0} << 1 << 0
                         << QVector<double>{40, NaN, 40, 40, 40, 40, 40, NaN, NaN};
    // n = 2: mean 41, sd sqrt(2), half width 12.7062 * sqrt(2) / sqrt(2).
    QTest::newRow("two") << QVector<double>{42.0, 40.0} << 2 << 0
                         << QVector<double>{41, std::sqrt(2.0), 40, 42, 41, 40.1, 41.9, 41 - 12.7062, 41 + 12.7062};
    // 1..5 with nan between: mean 3, sd sqrt(2.5); p5 at rank 0.2 -> 1.2,
    // p95 at rank 3.8 -> 4.8; half width 2.7764 * sqrt(2.5) / sqrt(5).
    QTest::newRow("nan mixed in") << QVector<double>{5, NaN, 1, 4, 2, NaN, 3} << 5 << 2
                                  << QVector<double>{3, std::sqrt(2.5), 1, 5, 3, 1.2, 4.8,
                                                     3 - 2.7764 * std::sqrt(0.5), 3 + 2.7764 * std::sqrt(0.5)};
    QTest::newRow("all equal") << QVector<double>{120, 120, 120, 120} << 4 << 0
                               << QVector<double>{120, 0, 120, 120, 120, 120, 120, 120, 120};
    // Infinity is no delay either.
    QTest::newRow("infinity left out") << QVector<double>{10, qInf(), 20} << 2 << 1
                                       << QVector<double>{15, std::sqrt(50.0), 10, 20, 15, 10.5, 19.5,
                                                          15 - 12.7062 * 5, 15 + 12.7062 * 5};
}

void TestRunStats::pathStats()
{
    QFETCH(QVector<double>, values);
    QFETCH(int, n);
    QFETCH(int, missing);
    QFETCH(QVector<double>, expected);

    const PathStats s = ComputePathStats(values);
    QCOMPARE(s.n, n);
    QCOMPARE(s.missing, missing);
    const double got[] = {s.mean, s.sd, s.min, s.max, s.median, s.p5, s.p95, s.ciLow, s.ciHigh};
    const char *names[] = {"mean", "sd", "min", "max", "median", "p5", "p95", "ciLow", "ciHigh"};
    for (int i = 0; i < 9; ++i)
        QVERIFY2(Near(got[i], expected[i], 1e-3), qPrintable(QString("%1 = %2, expected %3").arg(names[i]).arg(got[i]).arg(expected[i])));
}

// Percentiles by selection give the sorted rule's numbers to the last bit,
// with duplicates, NaN, odd and even counts; the mean is the results file's.
void TestRunStats::percentilesAgreeWithTheSortedRule()
{
    quint32 state = 12345;
    for (int n : {1, 2, 21, 1000}) {
        QVector<double> values, sorted;
        for (int i = 0; i < n; ++i) {
            state = state * 1664525u + 1013904223u;
            values << (state % 7 == 0 ? NaN : 100.0 + (state >> 8) % 4000 / 37.0);
            if (!std::isnan(values.last()))
                sorted << values.last();
        }
        const PathStats s = ComputePathStats(values);
        QCOMPARE(s.mean, FiniteMean(values));
        std::sort(sorted.begin(), sorted.end());
        for (double p : {5.0, 50.0, 95.0})
            QCOMPARE((p == 5 ? s.p5 : p == 50 ? s.median : s.p95), Percentile(sorted, p));
    }
}

// Without the option the results file's zeros are placeholders, not delays.
void TestRunStats::hdmiOffIsNotMeasured()
{
    RunRecord run;
    for (int i = 0; i < 3; ++i) {
        Measurement m;
        m.src2Rf = 40 + i;
        m.src2Snk = 120;
        m.src2Hd = 0;
        m.hdGap = DelayGap::NotMeasured;
        run.measurements << m;
    }
    RunStats s = ComputeRunStats(run);
    QVERIFY(!s.src2Hd.measured);
    QCOMPARE(s.src2Hd.n, 0);
    QCOMPARE(s.src2Hd.missing, 0);
    QCOMPARE(s.src2Rf.n, 3);
    QCOMPARE(s.src2Rf.mean, 41.0);

    run.settings.hdmi = true;
    for (Measurement &m : run.measurements) {
        m.hdGap = DelayGap::None;
        m.src2Hd = 35;
    }
    run.measurements[1].src2Hd = NaN;
    run.measurements[1].hdGap = DelayGap::NoReading;
    s = ComputeRunStats(run);
    QVERIFY(s.src2Hd.measured);
    QCOMPARE(s.src2Hd.n, 2);
    QCOMPARE(s.src2Hd.missing, 1);
}

void TestRunStats::welch()
{
    // a: 1..5 (mean 3, var 2.5), b: 2,4,6,8,10 (mean 6, var 10); n 5 each.
    // se^2 = 0.5 + 2 = 2.5; df = 2.5^2 / (0.25/4 + 4/4) = 5.882...
    const PathStats a = ComputePathStats({1, 2, 3, 4, 5});
    const PathStats b = ComputePathStats({2, 4, 6, 8, 10});
    const MeanDifference d = CompareMeans(a, b);
    QCOMPARE(d.diff, 3.0);
    QVERIFY(Near(d.df, 6.25 / 1.0625, 1e-9));
    const double half = StudentTQuantile(0.975, d.df) * std::sqrt(2.5);
    QVERIFY(Near(d.ciLow, 3 - half, 1e-9));
    QVERIFY(!d.significant); // half width 3.9 > 3

    const MeanDifference same = CompareMeans(a, a);
    QCOMPARE(same.diff, 0.0);
    QVERIFY(!same.significant);
    const MeanDifference far = CompareMeans(a, ComputePathStats({101, 102, 103, 104, 105}));
    QVERIFY(far.significant);
    QVERIFY(std::isnan(CompareMeans(ComputePathStats({1}), b).ciLow));
}

QTEST_GUILESS_MAIN(TestRunStats)
#include "tst_runstats.moc"
