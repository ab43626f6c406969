// The played waveforms against the application's delay rules: every edge
// is found on the sample the bench reports as the true edge, and the delays
// computed from those samples lie within one sample period of the truth.
#include "sim/bench.h"

#include <QtEndian>
#include <QtTest>

#include <algorithm>
#include <cmath>

using namespace benchsim;

namespace {

QVector<double> readBlock(Endpoint *e, const QByteArray &query)
{
    const QByteArray r = e->handle(query).bytes;
    if (r.size() < 3 || r.at(0) != '#')
        return {};
    const int n = r.at(1) - '0';
    const int count = r.mid(2, n).toInt();
    QVector<double> out;
    for (int i = 0; i < count / 4; ++i)
        out.append(qFromLittleEndian<float>(r.constData() + 2 + n + 4 * i));
    return out;
}

// The application's edge rules, written out independently of the simulator.
int sourceEdge(const QVector<double> &d1)
{
    for (int i = 0; i < d1.size(); ++i)
        if (d1[i] - d1[0] > 0.035)
            return i;
    return d1.size();
}

int rfEdge(QVector<double> d2, int from)
{
    double lo = d2[0], hi = d2[0];
    for (double v : d2) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    for (double &v : d2)
        v = (v - lo) * (0.2 / (hi - lo));
    for (int i = from; i + 8 <= d2.size(); ++i) {
        bool run = true;
        for (int k = 0; k < 8 && run; ++k)
            run = d2[i + k] > 0.05;
        if (run)
            return i;
    }
    return d2.size();
}

int sinkEdge(const QVector<double> &d3)
{
    for (int i = 0; i < d3.size(); ++i)
        if (d3[i] >= 0.06)
            return i;
    return d3.size();
}

double axis(int i, int n, bool benlo)
{
    return benlo ? (i * 1.2) / (n - 1) - 0.6 : double(i) / (n - 1) - 0.5;
}

} // namespace

class TestSimWaveform : public QObject {
    Q_OBJECT
private slots:
    void edges_data();
    void edges();
    void rejectedAcquisitions();
    void reproducible();
    void noise();
    void ramps_data();
    void ramps();
};

void TestSimWaveform::edges_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("points");
    QTest::addColumn<double>("src2Rf");
    QTest::addColumn<double>("src2Snk");
    QTest::addColumn<double>("jitter");
    QTest::addColumn<double>("noise");
    QTest::newRow("Orvix 20000") << "Orvix" << 20000 << 40.0 << 120.0 << 3.0 << 0.002;
    QTest::newRow("Orvix odd, most noise") << "Orvix" << 20001 << 40.0 << 120.0 << 5.0 << 0.005;
    QTest::newRow("Orvix sink first") << "Orvix" << 5000 << 12.5 << -30.0 << 0.0 << 0.002;
    QTest::newRow("Orvix no noise") << "Orvix" << 1001 << 40.0 << 120.0 << 0.0 << 0.0;
    QTest::newRow("Benlo 20000") << "Benlo" << 20000 << 40.0 << 120.0 << 3.0 << 0.002;
    QTest::newRow("Benlo 12001, late sink") << "Benlo" << 12001 << 250.0 << 580.0 << 10.0 << 0.005;
}

void TestSimWaveform::edges()
{
    QFETCH(QString, type);
    QFETCH(int, points);
    QFETCH(double, src2Rf);
    QFETCH(double, src2Snk);
    QFETCH(double, jitter);
    QFETCH(double, noise);
    Scenario s;
    s.oscType = type;
    s.benloPoints = points;
    s.src2RfMs = src2Rf;
    s.src2SnkMs = src2Snk;
    s.jitterMs = jitter;
    s.noiseV = noise;
    s.seed = 11;
    const bool benlo = s.isBenlo();
    Bench bench(s);
    Endpoint *osc = bench.endpoint("osc");
    Endpoint *sa = bench.endpoint("sa");
    const QByteArray n = QByteArray::number(points);
    osc->handle("CHAN1 ON;CHAN2 ON;CHAN3 ON;CHAN2:STAT ON;CHAN3:STAT ON;FORM REAL,32");
    if (!benlo)
        osc->handle("ACQ:POIN " + n);
    sa->handle(QByteArray("FORM REAL,32;SWE:TIME ") + (benlo ? "1.2" : "1"));

    for (int k = 0; k < 8; ++k) {
        osc->handle("*TRG;*OPC?");
        const QVector<double> d1 = readBlock(osc, "CHAN1:DATA?");
        const QVector<double> d3 = readBlock(osc, "CHAN2:DATA?");
        const QVector<double> ch3 = readBlock(osc, "CHAN3:DATA?");
        const QVector<double> trace = readBlock(sa, "TRAC? TRACE1, " + n);
        QCOMPARE(d1.size(), points);
        QCOMPARE(trace.size(), points);
        const Truth t = bench.truths().last();
        QCOMPARE(t.index, k);
        QVERIFY(t.accepted);
        QVERIFY(std::fabs(t.src2RfMs - src2Rf) <= jitter);
        QVERIFY(std::fabs(t.src2SnkMs - src2Snk) <= jitter);

        const int iSrc = sourceEdge(d1);
        QCOMPARE(iSrc, t.srcIndex);
        QCOMPARE(sinkEdge(d3), t.snkIndex);
        QCOMPARE(rfEdge(ch3, iSrc), t.rfIndex);
        QCOMPARE(rfEdge(trace, iSrc), t.saRfIndex);
        QCOMPARE(t.saPoints, points);

        const double period = (benlo ? 1.2 : 1.0) / (points - 1) * 1000;
        const double tSrc = axis(iSrc, points, benlo);
        const double snk = (axis(t.snkIndex, points, benlo) - tSrc) * 1000;
        const double rf = (axis(t.saRfIndex, points, benlo) - tSrc) * 1000;
        // Both edges sit on the first sample at or after their true instant,
        // so each delay is off by less than one sample period.
        QVERIFY2(std::fabs(snk - t.src2SnkMs) < period, qPrintable(QString::number(snk)));
        QVERIFY2(std::fabs(rf - t.src2RfMs) < period, qPrintable(QString::number(rf)));
        QCOMPARE(t.timePerSample, period / 1000);
        // Ideal steps cross every level at the edges played.
        QCOMPARE(t.srcCrossS, 0.0);
        QCOMPARE(t.snkCrossS, t.src2SnkMs / 1000);
        QCOMPARE(t.rfCrossS, t.src2RfMs / 1000);
        QCOMPARE(t.saRfCrossS, t.src2RfMs / 1000);
    }
}

void TestSimWaveform::rejectedAcquisitions()
{
    Scenario s;
    s.oscType = "Benlo";
    s.benloPoints = 1000;
    s.rejectFirst = 2;
    Bench bench(s);
    Endpoint *osc = bench.endpoint("osc");
    osc->handle("FORM REAL,32");
    QVector<double> first;
    for (int k = 0; k < 3; ++k) {
        osc->handle("*TRG;*OPC?");
        first.append(readBlock(osc, "CHAN1:DATA?").value(0));
    }
    const QVector<Truth> truths = bench.truths();
    QCOMPARE(truths.size(), 3);
    for (int k = 0; k < 3; ++k) {
        const bool inside = first[k] > -0.05 && first[k] < 0.3;
        QCOMPARE(inside, k >= 2);
        QCOMPARE(truths[k].accepted, inside);
    }
}

void TestSimWaveform::reproducible()
{
    Scenario s;
    s.jitterMs = 4;
    s.seed = 5;
    auto record = [](const Scenario &sc) {
        Bench bench(sc);
        bench.endpoint("osc")->handle("ACQ:POIN 2000;FORM REAL,32;*TRG;*TRG");
        return qMakePair(bench.endpoint("osc")->handle("CHAN1:DATA?").bytes, bench.truths().last().src2RfMs);
    };
    const auto a = record(s);
    QCOMPARE(record(s), a);
    s.seed = 6;
    const auto b = record(s);
    QVERIFY(b.first != a.first);
    QVERIFY(b.second != a.second);
}

// The noise is normal with the scenario's sigma, without offset, and
// clipped at 3 sigma so that no sample crosses a detection threshold.
void TestSimWaveform::noise()
{
    Scenario s;
    s.noiseV = 0.005;
    Bench bench(s);
    Endpoint *osc = bench.endpoint("osc");
    osc->handle("ACQ:POIN 400000;FORM REAL,32;CHAN2 ON;*TRG");
    const QVector<double> d = readBlock(osc, "CHAN1:DATA?");
    const int edge = bench.truths().last().srcIndex;
    double sum = 0, squares = 0, peak = 0;
    int clipped = 0, beyondOneSigma = 0;
    for (int i = 0; i < edge; ++i) {
        sum += d[i];
        squares += d[i] * d[i];
        peak = std::max(peak, std::fabs(d[i]));
        clipped += std::fabs(d[i]) > 0.0149999 ? 1 : 0;
        beyondOneSigma += std::fabs(d[i]) > 0.005 ? 1 : 0;
    }
    const double mean = sum / edge;
    const double sigma = std::sqrt(squares / edge - mean * mean);
    QVERIFY2(std::fabs(mean) < 0.0001, qPrintable(QString::number(mean)));
    QVERIFY2(std::fabs(sigma - 0.005) < 0.0002, qPrintable(QString::number(sigma)));
    QVERIFY(peak <= 0.015 + 1e-9);
    // 0.27 % of a normal distribution lies beyond 3 sigma, 31.7 % beyond 1.
    QVERIFY2(clipped > edge / 1000 && clipped < edge / 200, qPrintable(QString::number(clipped)));
    QVERIFY2(std::fabs(double(beyondOneSigma) / edge - 0.317) < 0.01, qPrintable(QString::number(beyondOneSigma)));
    // Each channel draws its own noise.
    const QVector<double> sink = readBlock(osc, "CHAN2:DATA?");
    QVERIFY(sink.mid(0, 100) != d.mid(0, 100));
    QVERIFY(std::fabs(sink[0]) <= 0.015 && sink[0] != 0);
}

// Edges with a rise time: linear ramps of riseMs / 0.8 whose 50 % point lies
// at the edge (10-90 % in riseMs), sampled on the record's own axis; the
// truth's crossings are where the ramps reach the rules' levels as this
// acquisition's samples set them.
void TestSimWaveform::ramps_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<double>("riseMs");
    QTest::addColumn<double>("noise");
    QTest::newRow("Benlo, 0.3 ms, quiet") << "Benlo" << 0.3 << 0.0;
    QTest::newRow("Orvix, 2 ms, noisy") << "Orvix" << 2.0 << 0.002;
    QTest::newRow("Benlo, shorter than a sample") << "Benlo" << 0.02 << 0.0;
}

void TestSimWaveform::ramps()
{
    QFETCH(QString, type);
    QFETCH(double, riseMs);
    QFETCH(double, noise);
    Scenario s;
    s.oscType = type;
    s.riseMs = riseMs;
    s.noiseV = noise;
    s.src2RfMs = 40.0137;
    s.src2SnkMs = 120.0291;
    const bool benlo = s.isBenlo();
    const int points = 20000;
    Bench bench(s);
    Endpoint *osc = bench.endpoint("osc");
    Endpoint *sa = bench.endpoint("sa");
    osc->handle("ACQ:POIN 20000;CHAN2 ON;CHAN3 ON;CHAN2:STAT ON;CHAN3:STAT ON;FORM REAL,32;*TRG");
    sa->handle(QByteArray("FORM REAL,32;SWE:TIME ") + (benlo ? "1.2" : "1"));
    const QVector<double> channels[3] = {readBlock(osc, "CHAN1:DATA?"), readBlock(osc, "CHAN2:DATA?"),
                                         readBlock(osc, "CHAN3:DATA?")};
    const QVector<double> trace = readBlock(sa, "TRAC? TRACE1, 20000");
    const Truth t = bench.truths().last();

    const double duration = riseMs / 0.8 / 1000;
    const double edges[3] = {0.0, 0.1200291, 0.0400137};
    const double highs[3] = {0.15, 0.1, 0.2};
    for (int c = 0; c < 3; ++c) {
        double worst = 0;
        for (int j = 0; j < points; ++j) {
            const double f = std::clamp((axis(j, points, benlo) - edges[c] + duration / 2) / duration, 0.0, 1.0);
            worst = std::max(worst, std::fabs(channels[c][j] - highs[c] * f));
        }
        // Within the noise (clipped at 3 sigma) and float32's rounding.
        QVERIFY2(worst <= 3 * noise + 1e-6, qPrintable(QStringLiteral("channel %1: %2").arg(c + 1).arg(worst)));
    }

    // The crossings, from the rules' levels on these samples.
    auto crossing = [&](double level, double edge, double low, double high) {
        return edge - duration / 2 + duration * (level - low) / (high - low);
    };
    auto ruleLevel = [](const QVector<double> &y) {
        const auto [lo, hi] = std::minmax_element(y.begin(), y.end());
        return *lo + (*hi - *lo) * 0.25;
    };
    QVERIFY(std::fabs(t.srcCrossS - crossing(channels[0][0] + 0.035, 0.0, 0.0, 0.15)) < 1e-12);
    QVERIFY(std::fabs(t.snkCrossS - crossing(0.06, edges[1], 0.0, 0.1)) < 1e-12);
    QVERIFY(std::fabs(t.rfCrossS - crossing(ruleLevel(channels[2]), edges[2], 0.0, 0.2)) < 1e-9);
    QVERIFY(std::fabs(t.saRfCrossS - crossing(ruleLevel(trace), edges[2], -80.0, -20.0)) < 1e-9);
    if (noise == 0) {
        // Where the samples are noise-free, interpolating them finds the truth.
        const int i = sinkEdge(channels[1]);
        const double y0 = channels[1][i - 1], y1 = channels[1][i];
        const double fine = axis(i - 1, points, benlo)
                            + (0.06 - y0) / (y1 - y0) * (axis(i, points, benlo) - axis(i - 1, points, benlo));
        if (duration > 2 * t.timePerSample)
            QVERIFY2(std::fabs(fine - t.snkCrossS) < 1e-9, qPrintable(QString::number(fine - t.snkCrossS)));
    }
    // The 10 % and 90 % points of the sink's ramp lie riseMs apart.
    QVERIFY(std::fabs(crossing(0.09, edges[1], 0, 0.1) - crossing(0.01, edges[1], 0, 0.1) - riseMs / 1000) < 1e-12);
}

QTEST_APPLESS_MAIN(TestSimWaveform)
#include "tst_simwaveform.moc"
