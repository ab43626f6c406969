// Edge searches and delays on hand-made traces, the time axis and the RF
// scaling they rely on, and the means over finite values.
#include "measurement/delaycalc.h"
#include "measurement/fineedges.h"

#include <QtTest>

#include <cmath>
#include <limits>

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

// `n` samples of `lo`, `hi` from index `at` on.
QVector<double> Step(int n, int at, double lo, double hi)
{
    QVector<double> v(n, lo);
    for (int i = std::max(0, at); i < n; ++i)
        v[i] = hi;
    return v;
}

bool Same(double a, double b)
{
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b);
    return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(b));
}

} // namespace

class TestDelayCalc : public QObject
{
    Q_OBJECT

private slots:
    void edges_data();
    void edges();
    void triggerInstantGivesExactZero();
    void timeAxis_data();
    void timeAxis();
    void scaleRf();
    void finiteMean_data();
    void finiteMean();
    void fineCrossing_data();
    void fineCrossing();
    void traceNoise();
};

void TestDelayCalc::edges_data()
{
    QTest::addColumn<int>("pts");
    QTest::addColumn<int>("type");
    QTest::addColumn<QVector<double>>("d1");
    QTest::addColumn<QVector<double>>("d2");
    QTest::addColumn<QVector<double>>("d3");
    QTest::addColumn<QVector<double>>("t");
    QTest::addColumn<double>("tsrc");
    QTest::addColumn<double>("trf");
    QTest::addColumn<double>("tsnk");
    QTest::addColumn<double>("src2Rf");
    QTest::addColumn<double>("src2Snk");

    const int n = 1001;
    const QVector<double> t0 = BuildTimeAxis(n, OrvixType);
    const QVector<double> t1 = BuildTimeAxis(n, BenloType);
    const QVector<double> src = Step(n, 500, 0.0, 0.15);
    const QVector<double> rf = Step(n, 540, 0.0, 0.2);
    const QVector<double> snk = Step(n, 620, 0.0, 0.1);

    QTest::newRow("1001 points, Orvix: 40 ms and 120 ms")
        << n << 0 << src << rf << snk << t0 << 0.0 << 0.04 << 0.12 << 40.0 << 120.0;
    QTest::newRow("1001 points, Benlo")
        << n << 1 << src << rf << snk << t1 << 0.0 << 0.048 << 0.144 << 48.0 << 144.0;
    QTest::newRow("any non-zero type counts as Benlo")
        << n << 7 << src << rf << snk << t1 << 0.0 << 0.048 << 0.144 << 48.0 << 144.0;

    QVector<double> exactRise = Step(n, 300, 0.0, 0.035);
    for (int i = 400; i < n; ++i)
        exactRise[i] = 0.2;
    QTest::newRow("a rise of exactly 35 mV is no edge")
        << n << 0 << exactRise << rf << snk << t0 << -0.1 << 0.04 << 0.12 << 140.0 << 220.0;

    QTest::newRow("a sink sample of exactly 0.06 V is an edge")
        << n << 0 << src << rf << Step(n, 700, 0.0, 0.06) << t0 << 0.0 << 0.04 << 0.2 << 40.0 << 200.0;

    QVector<double> sevenHigh(n, 0.0);
    for (int i = 520; i < 527; ++i)
        sevenHigh[i] = 0.2;
    sevenHigh[527] = 0.05; // at the level, not above it
    for (int i = 560; i < n; ++i)
        sevenHigh[i] = 0.2;
    QTest::newRow("seven high samples then one at the level: search goes on")
        << n << 0 << src << sevenHigh << snk << t0 << 0.0 << 0.06 << 0.12 << 60.0 << 120.0;

    QVector<double> nanBreaks = Step(n, 520, 0.0, 0.2);
    nanBreaks[525] = NaN;
    QTest::newRow("a NaN sample breaks the run")
        << n << 0 << src << nanBreaks << snk << t0 << 0.0 << 0.026 << 0.12 << 26.0 << 120.0;

    QTest::newRow("burst in progress at the source edge is found there")
        << n << 0 << Step(n, 510, 0.0, 0.15) << Step(n, 450, 0.0, 0.2) << snk << t0
        << 0.01 << 0.01 << 0.12 << 0.0 << 110.0;

    QTest::newRow("sink before source gives a negative delay")
        << n << 0 << src << rf << Step(n, 300, 0.0, 0.1) << t0 << 0.0 << 0.04 << -0.2 << 40.0 << -200.0;

    QTest::newRow("run ending on the last sample is found")
        << n << 0 << src << Step(n, n - 8, 0.0, 0.2) << snk << t0 << 0.0 << 0.493 << 0.12 << 493.0 << 120.0;
    QTest::newRow("run cut short by the end of the record")
        << n << 0 << src << Step(n, n - 7, 0.0, 0.2) << snk << t0 << 0.0 << NaN << 0.12 << NaN << 120.0;

    // Missing edges give no delay instead of a number near the record's end.
    QTest::newRow("no source edge: no RF search, no delays")
        << n << 0 << QVector<double>(n, 0.2) << rf << snk << t0 << NaN << NaN << 0.12 << NaN << NaN;
    QTest::newRow("no RF edge")
        << n << 0 << src << QVector<double>(n, 0.0) << snk << t0 << 0.0 << NaN << 0.12 << NaN << 120.0;
    QTest::newRow("flat RF scaled to NaN")
        << n << 0 << src << QVector<double>(n, NaN) << snk << t0 << 0.0 << NaN << 0.12 << NaN << 120.0;
    QTest::newRow("no sink edge")
        << n << 0 << src << rf << QVector<double>(n, 0.059) << t0 << 0.0 << 0.04 << NaN << 40.0 << NaN;
    QTest::newRow("pts 1: nothing can rise")
        << 1 << 0 << QVector<double>{0.0} << QVector<double>{0.2} << QVector<double>{0.0}
        << BuildTimeAxis(1, OrvixType) << NaN << NaN << NaN << NaN << NaN;
    QTest::newRow("pts 0 and empty vectors")
        << 0 << 0 << QVector<double>() << QVector<double>() << QVector<double>() << QVector<double>()
        << NaN << NaN << NaN << NaN << NaN;
    QTest::newRow("empty vectors with a stale pts")
        << n << 1 << QVector<double>() << QVector<double>() << QVector<double>() << QVector<double>()
        << NaN << NaN << NaN << NaN << NaN;

    // Vectors shorter than pts are read only up to their own end.
    QTest::newRow("RF trace shorter than pts, burst past its end")
        << n << 0 << src << Step(530, 525, 0.0, 0.2) << snk << t0 << 0.0 << NaN << 0.12 << NaN << 120.0;
    QTest::newRow("RF trace shorter than pts, burst inside it")
        << n << 0 << src << Step(560, 540, 0.0, 0.2) << snk << t0 << 0.0 << 0.04 << 0.12 << 40.0 << 120.0;
    QTest::newRow("sink trace shorter than pts")
        << n << 0 << src << rf << Step(600, 620, 0.0, 0.1) << t0 << 0.0 << 0.04 << NaN << 40.0 << NaN;
    QTest::newRow("time axis shorter than the source edge")
        << n << 0 << src << rf << snk << t0.mid(0, 450) << NaN << NaN << NaN << NaN << NaN;
    QTest::newRow("pts smaller than the vectors limits the search")
        << 600 << 0 << src << rf << snk << t0 << 0.0 << (540.0 / 599.0 - 0.5) << NaN
        << (540.0 / 599.0 - 0.5) * 1000.0 << NaN;
}

void TestDelayCalc::edges()
{
    QFETCH(int, pts);
    QFETCH(int, type);
    QFETCH(QVector<double>, d1);
    QFETCH(QVector<double>, d2);
    QFETCH(QVector<double>, d3);
    QFETCH(QVector<double>, t);

    const DelayResult r = CalcDelays(pts, d1, d2, d3, t, OscTypeOf(type));

    QFETCH(double, tsrc);
    QFETCH(double, trf);
    QFETCH(double, tsnk);
    QFETCH(double, src2Rf);
    QFETCH(double, src2Snk);
    QVERIFY2(Same(r.tsrc, tsrc), qPrintable(QString::number(r.tsrc, 'g', 17)));
    QVERIFY2(Same(r.trf, trf), qPrintable(QString::number(r.trf, 'g', 17)));
    QVERIFY2(Same(r.tsnk, tsnk), qPrintable(QString::number(r.tsnk, 'g', 17)));
    QVERIFY2(Same(r.Src2Rf, src2Rf), qPrintable(QString::number(r.Src2Rf, 'g', 17)));
    QVERIFY2(Same(r.Src2Snk, src2Snk), qPrintable(QString::number(r.Src2Snk, 'g', 17)));
}

// An RF run starting at the trigger instant (odd pts, Orvix) gives a trf of
// exactly 0.0, and with it a Source->RF delay of 0 whatever tsrc is.
void TestDelayCalc::triggerInstantGivesExactZero()
{
    const int n = 1001;
    const DelayResult r = CalcDelays(n, Step(n, 400, 0.0, 0.15), Step(n, 500, 0.0, 0.2),
                                     Step(n, 620, 0.0, 0.1), BuildTimeAxis(n, OrvixType), OrvixType);
    QCOMPARE(r.trf, 0.0);
    QCOMPARE(r.Src2Rf, 0.0);
    QVERIFY(Same(r.tsrc, -0.1));
}

void TestDelayCalc::timeAxis_data()
{
    QTest::addColumn<int>("pts");
    QTest::addColumn<int>("type");
    QTest::addColumn<double>("first");
    QTest::addColumn<double>("last");

    QTest::newRow("Orvix") << 20000 << 0 << -0.5 << 0.5;
    QTest::newRow("Benlo") << 20000 << 1 << -0.6 << 0.6;
    QTest::newRow("type 5 is Benlo") << 11 << 5 << -0.6 << 0.6;
    QTest::newRow("two points") << 2 << 0 << -0.5 << 0.5;
    QTest::newRow("one point: 0/0") << 1 << 0 << NaN << NaN;
}

void TestDelayCalc::timeAxis()
{
    QFETCH(int, pts);
    QFETCH(int, type);
    QFETCH(double, first);
    QFETCH(double, last);

    const QVector<double> axis = BuildTimeAxis(pts, OscTypeOf(type));
    QCOMPARE(axis.size(), pts);
    QVERIFY(Same(axis.first(), first));
    QVERIFY(Same(axis.last(), last));
    // Multiply before dividing: the Benlo sample 1 of 11 is (1 * 1.2) / 10 - 0.6.
    if (pts == 11)
        QCOMPARE(axis[1], (1 * 1.2) / 10 - 0.6);
    QVERIFY(BuildTimeAxis(0, OrvixType).isEmpty());
}

void TestDelayCalc::scaleRf()
{
    QVector<double> d2{-80.0, -20.0, -50.0, -80.0};
    ScaleRf(d2);
    const double f = 0.2 / 60.0; // the factor is computed once
    QCOMPARE(d2, (QVector<double>{0.0, 60.0 * f, 30.0 * f, 0.0}));

    QVector<double> flat(5, -80.0);
    ScaleRf(flat);
    for (double v : flat)
        QVERIFY(std::isnan(v));

    QVector<double> empty;
    ScaleRf(empty);
    QVERIFY(empty.isEmpty());
}

void TestDelayCalc::finiteMean_data()
{
    QTest::addColumn<QVector<double>>("values");
    QTest::addColumn<double>("mean");

    QTest::newRow("plain") << QVector<double>{41.2, 39.8} << 40.5;
    QTest::newRow("NaN entries skipped") << QVector<double>{NaN, 40.0, NaN, 42.0} << 41.0;
    QTest::newRow("infinity skipped") << QVector<double>{std::numeric_limits<double>::infinity(), 3.0} << 3.0;
    QTest::newRow("only NaN") << QVector<double>{NaN, NaN} << NaN;
    QTest::newRow("empty") << QVector<double>() << NaN;
    QTest::newRow("zeros count") << QVector<double>{0.0, 0.0, 30.0} << 10.0;
}

void TestDelayCalc::finiteMean()
{
    QFETCH(QVector<double>, values);
    QFETCH(double, mean);
    QVERIFY(Same(FiniteMean(values), mean));
}

// One edge on a unit time axis (sample j at j s), crossing the level 0.5.
// What linear interpolation finds, and what it says the time can be off by.
void TestDelayCalc::fineCrossing_data()
{
    QTest::addColumn<QVector<double>>("y");
    QTest::addColumn<int>("i");
    QTest::addColumn<double>("time");  // NaN: none
    QTest::addColumn<double>("bound"); // NaN: unbounded
    QTest::addColumn<double>("noise"); // s, 0 for none to speak of

    // Twenty quiet samples before each edge, as a record has hundreds.
    auto after = [](const QVector<double> &edge) { return QVector<double>(20, 0.0) + edge; };
    // A ramp over many samples, between its corners: exact, nothing to bound.
    QTest::newRow("straight ramp") << after({0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1, 1}) << 24 << 24.0 << 0.0
                                   << 0.0;
    QTest::newRow("between samples") << after({0.15, 0.35, 0.55, 0.75, 0.95, 1, 1}) << 22 << 21.75 << 0.0 << 0.0;
    // A corner outside the two samples bends only one second difference.
    QTest::newRow("corner just before") << after({0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1}) << 24
                                        << 24.0 << 0.0 << 0.0;
    // An ideal step: anywhere in the interval, the farther end bounds it.
    QTest::newRow("ideal step") << after({1, 1, 1, 1}) << 20 << 19.5 << 0.5 << 0.0;
    QTest::newRow("step, level near the bottom") << after({1.25, 1.25, 1.25}) << 20 << 19.4 << 0.6 << 0.0;
    // A corner between the two samples (at 19.25, slope 0.8): the smaller
    // bend of the two samples, 0.2 over the rise 0.6, bounds it; the crossing
    // is at 19.875, 0.042 after the one found.
    QTest::newRow("corner inside") << after({0.6, 1.4, 2.2, 3}) << 20 << 19 + 0.5 / 0.6 << 0.2 / 0.6 << 0.0;
    // No sample below the level before the edge: no interpolation.
    QTest::newRow("already above") << QVector<double>{0.7, 0.8, 0.9, 1} << 2 << 2.0 << 1.0 << 0.0;
    QTest::newRow("first sample") << QVector<double>{0.7, 0.8, 0.9, 1} << 0 << 0.0 << NaN << 0.0;
    QTest::newRow("at the record's end") << after({1}) << 20 << 19.5 << 0.5 << 0.0;
    QTest::newRow("no edge") << after({0}) << -1 << NaN << NaN << 0.0;
}

void TestDelayCalc::fineCrossing()
{
    QFETCH(QVector<double>, y);
    QFETCH(int, i);
    QFETCH(double, time);
    QFETCH(double, bound);
    QFETCH(double, noise);

    const FineEdge e = FineCrossing(y, i, 0.5, [](int j) { return double(j); }, false);
    QVERIFY2(Same(e.time, time) || std::fabs(e.time - time) < 1e-12, qPrintable(QString::number(e.time, 'g', 17)));
    QVERIFY2(Same(e.boundS, bound) || std::fabs(e.boundS - bound) < 1e-6, qPrintable(QString::number(e.boundS)));
    if (std::isfinite(time))
        QVERIFY2(e.noiseS <= noise + 1e-6, qPrintable(QString::number(e.noiseS)));
}

// The noise estimate from the samples before an edge: the standard deviation
// of normal noise, also where the samples lie on a slope or a spike sits
// among them; the source edge's level carries one more sample's noise.
void TestDelayCalc::traceNoise()
{
    QVector<double> y;
    quint32 state = 12345;
    auto normal = [&state] { // Box-Muller over a small LCG: reproducible
        auto uniform = [&state] {
            state = state * 1664525u + 1013904223u;
            return (state + 0.5) / 4294967296.0;
        };
        return std::sqrt(-2 * std::log(uniform())) * std::cos(2 * M_PI * uniform());
    };
    for (int j = 0; j < 256; ++j)
        y.append(0.002 * normal() + 0.0005 * j); // 2 mV on a slope
    y[100] += 0.5;                              // and a spike
    QVERIFY2(std::fabs(TraceNoise(y, y.size()) - 0.002) < 0.0003, qPrintable(QString::number(TraceNoise(y, 256))));
    QVERIFY(std::isnan(TraceNoise(y, 1)));

    // A ramp of 6 samples per 0.15 V with that noise: the fine time's
    // standard deviation is the noise over the slope, weighted.
    QVector<double> edge(40, 0.0);
    for (int j = 0; j < 40; ++j)
        edge[j] = 0.002 * normal() + std::clamp((j - 20) / 6.0, 0.0, 1.0) * 0.15;
    const FineEdge src = FineCrossing(edge, 22, 0.035, [](int j) { return double(j); }, true);
    const FineEdge snk = FineCrossing(edge, 22, 0.035, [](int j) { return double(j); }, false);
    QVERIFY(src.noiseS > snk.noiseS);
    QVERIFY2(snk.noiseS > 0.03 && snk.noiseS < 0.12, qPrintable(QString::number(snk.noiseS)));
}

QTEST_APPLESS_MAIN(TestDelayCalc)
#include "tst_delaycalc.moc"
