// What the graph dialog shows for a given shared measurement state: the time
// axis per oscilloscope type, the curves, the edge markers and the result
// boxes.
#include "graph/graph.h"
#include "graph/graphform.h"
#include "graph/resultbox.h"
#include "measurement/delaycalc.h"
#include "shared/measstate.h"

#include <QtTest>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_scale_div.h>

#include <limits>

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

QList<QwtPlotMarker *> Markers(QwtPlot *plt)
{
    QList<QwtPlotMarker *> out;
    for (QwtPlotItem *item : plt->itemList(QwtPlotItem::Rtti_PlotMarker))
        out.append(static_cast<QwtPlotMarker *>(item));
    return out;
}

void SetState(int type, int pts)
{
    OsTypIdx = type;
    t = BuildTimeAxis(pts, type);
    d1 = QVector<double>(pts, 0.0);
    d2 = QVector<double>(pts, 0.1);
    d3 = QVector<double>(pts, 0.2);
    tsrc = 0.0;
    trf = 0.04;
    tsnk = 0.12;
    AvgSrc2Rf = 40.0;
    AvgSrc2Hd = 55.5;
    AvgSrc2Snk = 120.0;
    MeasHdmi = false;
}

} // namespace

class TestGraph : public QObject
{
    Q_OBJECT

private slots:
    void timeAxis_data();
    void timeAxis();
    void curves();
    void markers_data();
    void markers();
    void resultBoxes_data();
    void resultBoxes();
    void hdmiBoxFollowsOption();
    void nanBoxStepsToANumber();
};

void TestGraph::timeAxis_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<double>("half");
    QTest::newRow("Orvix") << 0 << 0.5;
    QTest::newRow("Benlo") << 1 << 0.6;
    QTest::newRow("type 3 is Benlo") << 3 << 0.6;
}

void TestGraph::timeAxis()
{
    QFETCH(int, type);
    QFETCH(double, half);
    SetState(type, 101);
    tsrc = 0.55; // outside the Orvix span: the axis must not widen to show it
    Graph g;
    QwtPlot *plt = g.form->plt;
    QVERIFY(!plt->axisAutoScale(QwtPlot::xBottom));
    QCOMPARE(plt->axisScaleDiv(QwtPlot::xBottom).lowerBound(), -half);
    QCOMPARE(plt->axisScaleDiv(QwtPlot::xBottom).upperBound(), half);
    QVERIFY(plt->axisAutoScale(QwtPlot::yLeft));
    QCOMPARE(plt->axisTitle(QwtPlot::xBottom).text(), QStringLiteral("Time / s"));
    QCOMPARE(plt->axisTitle(QwtPlot::yLeft).text(), QStringLiteral("Voltage / V"));
}

// A curve has as many points as the shorter of t and its trace, in its own
// copy of the data.
void TestGraph::curves()
{
    SetState(0, 1001);
    d2.resize(500);
    d3.clear();
    Graph g;
    QCOMPARE(int(g.Crv1->dataSize()), 1001);
    QCOMPARE(int(g.Crv2->dataSize()), 500);
    QCOMPARE(int(g.Crv3->dataSize()), 0);
    QCOMPARE(g.Crv1->pen().color(), QColor(Qt::blue));
    QCOMPARE(g.Crv2->pen().color(), QColor(Qt::yellow));
    QCOMPARE(g.Crv3->pen().color(), QColor(Qt::red));
    QCOMPARE(g.Crv1->pen().widthF(), 0.0);
    QCOMPARE(g.Crv1->plot(), g.form->plt);
    QCOMPARE(g.Crv1->sample(1000), QPointF(0.5, 0.0));

    d1.fill(9.0);
    QCOMPARE(g.Crv1->sample(1000).y(), 0.0);
}

void TestGraph::markers_data()
{
    QTest::addColumn<double>("src");
    QTest::addColumn<double>("rf");
    QTest::addColumn<double>("snk");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QList<double>>("xs");

    QTest::newRow("all edges found")
        << -0.0123456789 << 0.04 << 0.12
        << QStringList{"tsrc = -0.0123457 s", "trf = 0.04 s", "tsnk = 0.12 s"}
        << QList<double>{-0.0123456789, 0.04, 0.12};
    QTest::newRow("missing RF edge has no marker")
        << 0.0 << NaN << 0.12 << QStringList{"tsrc = 0 s", "tsnk = 0.12 s"} << QList<double>{0.0, 0.12};
    QTest::newRow("no edge at all") << NaN << NaN << NaN << QStringList() << QList<double>();
}

void TestGraph::markers()
{
    QFETCH(double, src);
    QFETCH(double, rf);
    QFETCH(double, snk);
    QFETCH(QStringList, labels);
    QFETCH(QList<double>, xs);
    SetState(1, 1001);
    tsrc = src;
    trf = rf;
    tsnk = snk;
    Graph g;

    const QList<QwtPlotMarker *> markers = Markers(g.form->plt);
    QCOMPARE(markers.size(), labels.size());
    for (int i = 0; i < markers.size(); ++i) {
        QwtPlotMarker *m = markers[i];
        QCOMPARE(m->label().text(), labels[i]);
        QCOMPARE(m->xValue(), xs[i]);
        QCOMPARE(m->yValue(), 0.0);
        QCOMPARE(m->lineStyle(), QwtPlotMarker::VLine);
        QCOMPARE(m->labelAlignment(), Qt::AlignLeft | Qt::AlignTop);
        QCOMPARE(m->labelOrientation(), Qt::Vertical);
        QCOMPARE(m->linePen().style(), Qt::DashDotLine);
        QCOMPARE(m->linePen().color(), QColor(Qt::black));
    }
}

void TestGraph::resultBoxes_data()
{
    QTest::addColumn<double>("mean");
    QTest::addColumn<QString>("shown");
    QTest::newRow("three decimals") << 12.34567 << "12.346";
    QTest::newRow("clamped to the upper limit") << 2500.0 << "2000.000";
    QTest::newRow("clamped to the lower limit") << -2500.0 << "-2000.000";
    QTest::newRow("not a number") << NaN << "nan";
    QTest::newRow("negative") << -3.5 << "-3.500";
}

// Every box shows its mean alike: 3 decimals, clamped to -2000..2000, NaN as nan.
void TestGraph::resultBoxes()
{
    QFETCH(double, mean);
    QFETCH(QString, shown);
    SetState(0, 11);
    AvgSrc2Rf = mean;
    AvgSrc2Hd = mean;
    AvgSrc2Snk = mean;
    Graph g;
    QCOMPARE(g.form->Src2Rf->text(), shown);
    QCOMPARE(g.form->Src2Hd->text(), shown);
    QCOMPARE(g.form->Src2Snk->text(), shown);
}

void TestGraph::hdmiBoxFollowsOption()
{
    SetState(0, 11);
    {
        Graph g;
        QVERIFY(!g.form->Src2Hd->isEnabled());
        QCOMPARE(g.form->Src2Hd->text(), QStringLiteral("55.500"));
    }
    MeasHdmi = true;
    Graph g;
    QVERIFY(g.form->Src2Hd->isEnabled());
    QVERIFY(g.form->Src2Rf->isEnabled());
}

// Stepping (arrow key, wheel) from "nan" shows the stepped number; a box
// left alone keeps "nan" when it loses the focus.
void TestGraph::nanBoxStepsToANumber()
{
    SetState(0, 11);
    AvgSrc2Rf = NaN;
    AvgSrc2Snk = NaN;
    Graph g;
    g.show();
    QVERIFY(QTest::qWaitForWindowExposed(&g));
    g.form->Src2Rf->setFocus();
    QTest::keyClick(g.form->Src2Rf, Qt::Key_Up);
    QCOMPARE(g.form->Src2Rf->text(), QStringLiteral("1.000"));
    g.form->Src2Snk->setFocus();
    QTest::keyClick(g.form->Src2Snk, Qt::Key_Tab);
    QCOMPARE(g.form->Src2Snk->text(), QStringLiteral("nan"));
}

QTEST_MAIN(TestGraph)
#include "tst_graph.moc"
