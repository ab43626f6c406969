// What the graph dialog shows for a given shared measurement state: the time
// axis per oscilloscope type, the curves, their legend, the edge markers, the
// result boxes and their tooltips, zooming, the geometry of every control;
// and the Statistics window it opens, with its table, figures and plots.
#include "graph/delaytablemodel.h"
#include "graph/graph.h"
#include "graph/graphform.h"
#include "graph/histogram.h"
#include "graph/plotzoom.h"
#include "graph/resultbox.h"
#include "graph/statisticswindow.h"
#include "measurement/delaycalc.h"
#include "measurement/delayscsv.h"
#include "shared/measstate.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QtTest>

#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_histogram.h>
#include <qwt_plot_legenditem.h>
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
    LastRun = RunRecord();
}

// A run of n measurements: Source->RF 40 + (k % 5) ms with the third one's
// RF trace not read, Source->Sink 120 + k % 3 ms, the HDMI reading 35.5
// when measured.
RunRecord MakeRun(int n, bool hdmi)
{
    RunRecord run;
    run.requested = n;
    run.started = QDateTime(QDate(2026, 3, 1), QTime(14, 5, 9), Qt::OffsetFromUTC, 3600);
    run.settings.hdmi = hdmi;
    for (int k = 1; k <= n; ++k) {
        Measurement m;
        m.index = k;
        m.acquired = run.started.addMSecs(250 * k);
        m.src2Rf = 40.0 + k % 5;
        m.src2Snk = 120.0 + k % 3;
        m.src2Hd = hdmi ? 35.5 : 0.0;
        m.hdGap = hdmi ? DelayGap::None : DelayGap::NotMeasured;
        if (k == 3) {
            m.src2Rf = NaN;
            m.rfGap = DelayGap::TraceNotRead;
            m.retakenBefore = 2;
        }
        run.measurements << m;
    }
    run.ended = run.started.addSecs(n);
    return run;
}

QPoint CanvasPoint(QwtPlot *plt, double x, double y)
{
    return QPoint(int(plt->transform(QwtPlot::xBottom, x)), int(plt->transform(QwtPlot::yLeft, y)));
}

void Mouse(QWidget *w, QEvent::Type type, Qt::MouseButton button, QPoint at)
{
    QMouseEvent e(type, at, w->mapToGlobal(at), button, type == QEvent::MouseButtonRelease ? Qt::NoButton : button,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
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
    void geometryStays();
    void legendNamesTheTraces();
    void zoom();
    void resultBoxTooltips();
    void histogram_data();
    void histogram();
    void statisticsWindow();
    void statisticsWindowOwner();
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

// Nothing that was there moves: the form's controls keep their geometry,
// and OK keeps its place (where it sits in a box holding only OK), its role
// and its default; Statistics… sits left of it, inside the box.
void TestGraph::geometryStays()
{
    SetState(0, 11);
    Graph g;
    g.show();
    QVERIFY(QTest::qWaitForWindowExposed(&g));
    QCOMPARE(g.size(), QSize(817, 434));
    const GraphForm *f = g.form;
    const QList<QPair<QWidget *, QRect>> fixed = {
        {f->buttonBox, {650, 400, 161, 32}}, {f->plt, {0, 10, 791, 381}},     {f->Src2Rf, {114, 400, 81, 22}},
        {f->label, {200, 402, 21, 16}},      {f->label_2, {47, 402, 71, 16}}, {f->label_3, {406, 402, 21, 16}},
        {f->label_5, {237, 402, 81, 16}},    {f->Src2Hd, {320, 400, 81, 22}}, {f->label_4, {449, 402, 71, 16}},
        {f->Src2Snk, {524, 400, 81, 22}},    {f->label_6, {610, 402, 21, 16}}};
    for (const auto &w : fixed)
        QCOMPARE(w.first->geometry(), w.second);

    // In a dialog, as a dialog's default button may be drawn larger.
    QDialog bareDialog;
    bareDialog.setFont(g.font());
    bareDialog.resize(g.size());
    auto *bare = new QDialogButtonBox(QDialogButtonBox::Ok, &bareDialog);
    bare->setGeometry(650, 400, 161, 32);
    bareDialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bareDialog));
    QPushButton *ok = f->buttonBox->button(QDialogButtonBox::Ok);
    QCOMPARE(ok->geometry(), bare->button(QDialogButtonBox::Ok)->geometry());
    QCOMPARE(f->buttonBox->buttonRole(ok), QDialogButtonBox::AcceptRole);
    QVERIFY(ok->isDefault() || ok->autoDefault());
    QVERIFY(!g.statisticsButton->isDefault());
    QCOMPARE(g.statisticsButton->parentWidget(), f->buttonBox);
    QCOMPARE(g.statisticsButton->text(), QString::fromUtf8("Statistics…"));
    QVERIFY(g.statisticsButton->geometry().right() < ok->geometry().left());
    QVERIFY(g.statisticsButton->geometry().left() >= 0);
    QVERIFY(g.statisticsButton->width() >= g.statisticsButton->fontMetrics().horizontalAdvance(g.statisticsButton->text()));
    // OK still accepts; Statistics… does not close the dialog.
    g.statisticsButton->click();
    QVERIFY(g.isVisible());
    ok->click();
    QCOMPARE(g.result(), int(QDialog::Accepted));
}

void TestGraph::legendNamesTheTraces()
{
    SetState(1, 101);
    Graph g;
    g.show();
    QVERIFY(QTest::qWaitForWindowExposed(&g));
    QCOMPARE(g.Crv1->title().text(), QStringLiteral("Source (channel 1)"));
    QCOMPARE(g.Crv2->title().text(), QStringLiteral("RF envelope"));
    QCOMPARE(g.Crv3->title().text(), QStringLiteral("Sink (channel 2)"));
    const QList<QwtPlotItem *> legends = g.form->plt->itemList(QwtPlotItem::Rtti_PlotLegend);
    QCOMPARE(legends.size(), 1);
    QCOMPARE(legends.first(), static_cast<QwtPlotItem *>(g.legend));
    // Exactly the three curves, each drawn inside the canvas; no marker.
    const QList<const QwtPlotItem *> entries = g.legend->plotItems();
    QCOMPARE(entries.size(), 3);
    const QRect canvas = g.form->plt->canvas()->contentsRect();
    for (const QwtPlotCurve *curve : {g.Crv1, g.Crv2, g.Crv3}) {
        QVERIFY(entries.contains(curve));
        const QList<QRect> boxes = g.legend->legendGeometries(curve);
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(canvas.contains(boxes.first()), qPrintable(QString("%1 %2").arg(boxes.first().x()).arg(boxes.first().y())));
    }
    // The curves themselves are untouched: pens as before.
    QCOMPARE(g.Crv2->pen().color(), QColor(Qt::yellow));
    QCOMPARE(g.Crv2->style(), QwtPlotCurve::Lines);
}

// A rubber band with the left button zooms to it, the wheel zooms, a right
// click brings back the full record with the y axis autoscaled again; the
// result boxes do not change.
void TestGraph::zoom()
{
    SetState(0, 1001);
    d1 = QVector<double>(1001, 0.0);
    d1[900] = 1.0; // y autoscale reaches 1
    Graph g;
    g.show();
    QVERIFY(QTest::qWaitForWindowExposed(&g));
    QwtPlot *plt = g.form->plt;
    QWidget *canvas = plt->canvas();
    auto xSpan = [plt] { return plt->axisScaleDiv(QwtPlot::xBottom); };

    Mouse(canvas, QEvent::MouseButtonPress, Qt::LeftButton, CanvasPoint(plt, -0.2, 0.8));
    Mouse(canvas, QEvent::MouseMove, Qt::LeftButton, CanvasPoint(plt, 0.0, 0.5));
    Mouse(canvas, QEvent::MouseMove, Qt::LeftButton, CanvasPoint(plt, 0.1, 0.2));
    Mouse(canvas, QEvent::MouseButtonRelease, Qt::LeftButton, CanvasPoint(plt, 0.1, 0.2));
    QVERIFY2(std::fabs(xSpan().lowerBound() + 0.2) < 0.01 && std::fabs(xSpan().upperBound() - 0.1) < 0.01,
             qPrintable(QString("%1 .. %2").arg(xSpan().lowerBound()).arg(xSpan().upperBound())));
    QVERIFY(std::fabs(plt->axisScaleDiv(QwtPlot::yLeft).upperBound() - 0.8) < 0.02);

    Mouse(canvas, QEvent::MouseButtonPress, Qt::RightButton, CanvasPoint(plt, 0.0, 0.5));
    Mouse(canvas, QEvent::MouseButtonRelease, Qt::RightButton, CanvasPoint(plt, 0.0, 0.5));
    QCOMPARE(xSpan().lowerBound(), -0.5);
    QCOMPARE(xSpan().upperBound(), 0.5);
    QVERIFY(plt->axisAutoScale(QwtPlot::yLeft));

    const double before = xSpan().range();
    QWheelEvent in(QPointF(canvas->rect().center()), QPointF(canvas->mapToGlobal(canvas->rect().center())), QPoint(),
                   QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(canvas, &in);
    QVERIFY2(xSpan().range() < before * 0.95, qPrintable(QString::number(xSpan().range())));
    // Back to the full record also after wheel zooming, which no zoom stack saw.
    Mouse(canvas, QEvent::MouseButtonPress, Qt::RightButton, CanvasPoint(plt, 0.0, 0.5));
    Mouse(canvas, QEvent::MouseButtonRelease, Qt::RightButton, CanvasPoint(plt, 0.0, 0.5));
    QCOMPARE(xSpan().lowerBound(), -0.5);
    QCOMPARE(xSpan().upperBound(), 0.5);
    QCOMPARE(g.form->Src2Rf->text(), QStringLiteral("40.000"));
}

void TestGraph::resultBoxTooltips()
{
    SetState(0, 11);
    LastRun = MakeRun(10, false);
    Graph g;
    // RF: 40 + k % 5 for k = 1..10 without k = 3: 41 42 44 40 41 42 43 44 40,
    // mean 377 / 9, squared deviations 18.889 / 8.
    QCOMPARE(g.form->Src2Rf->toolTip(),
             QStringLiteral("Source -> RF: n = 9 (1 without a value)\nstandard deviation 1.537 ms\n"
                            "minimum 40.000 ms, maximum 44.000 ms\n95th percentile 44.000 ms"));
    // Sink: 120 + k % 3: 121 122 120 121 122 120 121 122 120 121, mean 121,
    // squared deviations 6 / 9; sorted, the 95th percentile lies at index
    // 8.55, between two 122s.
    QCOMPARE(g.form->Src2Snk->toolTip(),
             QStringLiteral("Source -> Sink: n = 10\nstandard deviation 0.816 ms\n"
                            "minimum 120.000 ms, maximum 122.000 ms\n95th percentile 122.000 ms"));
    QCOMPARE(g.form->Src2Hd->toolTip(), QStringLiteral("Source -> HDMI: not measured in this run"));

    LastRun = RunRecord();
    Graph empty;
    QCOMPARE(empty.form->Src2Rf->toolTip(), QStringLiteral("Source -> RF: n = 0"));
}

void TestGraph::histogram_data()
{
    QTest::addColumn<QVector<double>>("values");
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("width");
    QTest::addColumn<QVector<int>>("counts");
    QTest::addColumn<int>("left");

    QTest::newRow("none") << QVector<double>() << 0.0 << 0.0 << QVector<int>() << 0;
    QTest::newRow("only NaN") << QVector<double>{NaN, NaN} << 0.0 << 0.0 << QVector<int>() << 2;
    QTest::newRow("one value: a bin of 1 around it") << QVector<double>{35.5} << 35.0 << 1.0 << QVector<int>{1} << 0;
    QTest::newRow("all equal") << QVector<double>{35.2, 35.2, 35.2, NaN} << 34.7 << 1.0 << QVector<int>{3} << 1;
    // 4 values -> 2 bins wanted; span 3 / 2 = 1.5 -> width 2 from 40.
    QTest::newRow("round width") << QVector<double>{40.1, 41.0, 42.9, 43.1} << 40.0 << 2.0 << QVector<int>{2, 2} << 0;
    // The largest value on a bin edge opens a bin of its own.
    QTest::newRow("max on an edge") << QVector<double>{0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0}
                                    << 0.0 << 5.0 << QVector<int>{5, 4} << 0;
    QTest::newRow("negative and infinite") << QVector<double>{-0.25, -0.05, qInf(), -0.15, -0.3}
                                          << -0.4 << 0.2 << QVector<int>{2, 2} << 1;
}

void TestGraph::histogram()
{
    QFETCH(QVector<double>, values);
    QFETCH(double, start);
    QFETCH(double, width);
    QFETCH(QVector<int>, counts);
    QFETCH(int, left);
    const Histogram h = MakeHistogram(values);
    QVERIFY2(qFuzzyCompare(1.0 + h.start, 1.0 + start), qPrintable(QString::number(h.start, 'g', 17)));
    QCOMPARE(h.width, width);
    QCOMPARE(h.counts, counts);
    QCOMPARE(h.left, left);

    QCOMPARE(RoundBinWidth(0.3 / 3), 0.1);
    QCOMPARE(RoundBinWidth(1.5), 2.0);
    QCOMPARE(RoundBinWidth(2.1), 5.0);
    QCOMPARE(RoundBinWidth(7.0), 10.0);
    QCOMPARE(RoundBinWidth(0.0), 1.0);
    // A wide spread never gives more than maxBins + 1 bins.
    QVector<double> many;
    for (int i = 0; i < 100000; ++i)
        many << (i % 2 ? 1e6 : 0.0) + i * 1e-3;
    many << 1e300;
    QVERIFY(MakeHistogram(many, 50).counts.size() <= 51);
    int sum = 0;
    for (int c : MakeHistogram(many, 50).counts)
        sum += c;
    QCOMPARE(sum, many.size());
}

// The window shows the graph's run: one row per measurement with the
// reason where a value is missing, every path's figures, the plots; the
// selection copies as tab-separated text; Export CSV writes the delay table.
void TestGraph::statisticsWindow()
{
    SetState(0, 11);
    LastRun = MakeRun(10, true);
    Graph g;
    g.show();
    QVERIFY(QTest::qWaitForWindowExposed(&g));
    QVERIFY(!g.statisticsWindow());
    g.statisticsButton->click();
    StatisticsWindow *w = g.statisticsWindow();
    QVERIFY(w);
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QVERIFY(w->isWindow());
    QCOMPARE(w->parentWidget(), &g);
    QVERIFY(!w->isModal());
    // The run as it was when the dialog came up, without its traces.
    LastRun = RunRecord();
    QCOMPARE(w->run().measurements.size(), 10);

    QCOMPARE(w->model->rowCount(), 10);
    QCOMPARE(w->model->columnCount(), 6);
    const QModelIndex third = w->model->index(2, DelayTableModel::RfColumn);
    QCOMPARE(third.data().toString(), QStringLiteral("trace not read"));
    QCOMPARE(third.data(DelayTableModel::CopyRole).toString(), QString());
    QCOMPARE(w->model->index(0, DelayTableModel::RfColumn).data().toString(), QStringLiteral("41.000"));
    QCOMPARE(w->model->index(2, DelayTableModel::RetakenColumn).data().toString(), QStringLiteral("2"));
    QCOMPARE(w->model->index(0, DelayTableModel::TimeColumn).data().toString(), QStringLiteral("14:05:09.250"));
    QCOMPARE(w->model->index(0, DelayTableModel::TimeColumn).data(DelayTableModel::CopyRole).toString(),
             QStringLiteral("2026-03-01T14:05:09.250+01:00"));
    QVERIFY(w->summary->text().contains(QStringLiteral("10 of 10 measurements")));

    // Figures: rows n, without, mean, sd, min, max, median, p5, p95, CI.
    auto cell = [w](int row, int column) { return w->stats->item(row, column)->text(); };
    QCOMPARE(cell(0, 0), QStringLiteral("9"));
    QCOMPARE(cell(1, 0), QStringLiteral("1"));
    QCOMPARE(cell(2, 0), QStringLiteral("41.889"));
    QCOMPARE(cell(0, 1), QStringLiteral("10"));
    QCOMPARE(cell(3, 1), QStringLiteral("0.000"));
    QCOMPARE(cell(6, 2), QStringLiteral("121.000"));
    // t(0.975, 9) = 2.2622: 121 +- 2.2622 * 0.8165 / sqrt(10).
    QCOMPARE(cell(9, 2), QString::fromUtf8("120.416 … 121.584"));

    // A histogram per path, every measurement with a value counted once;
    // the delays against the index, HDMI included.
    const int withValue[3] = {9, 10, 10};
    for (int path = 0; path < 3; ++path) {
        const QList<QwtPlotItem *> bars = w->histograms[path]->itemList(QwtPlotItem::Rtti_PlotHistogram);
        QCOMPARE(bars.size(), 1);
        const auto *h = static_cast<QwtPlotHistogram *>(bars.first());
        double total = 0;
        for (size_t i = 0; i < h->dataSize(); ++i)
            total += h->sample(int(i)).value;
        QCOMPARE(int(total), withValue[path]);
    }
    const QList<QwtPlotItem *> curves = w->byIndex->itemList(QwtPlotItem::Rtti_PlotCurve);
    QCOMPARE(curves.size(), 3);
    QCOMPARE(int(static_cast<QwtPlotCurve *>(curves.first())->dataSize()), 9);

    // Copy: rows 2..3, the RF and sink columns; the gap is an empty cell.
    QItemSelection selection;
    selection.select(w->model->index(1, DelayTableModel::RfColumn), w->model->index(2, DelayTableModel::RfColumn));
    selection.select(w->model->index(1, DelayTableModel::SnkColumn), w->model->index(2, DelayTableModel::SnkColumn));
    w->table->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    QApplication::clipboard()->clear();
    w->table->setFocus();
    QTest::keySequence(w->table, QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("42\t122\n\t120\n"));

    QTemporaryDir dir;
    const QString path = dir.filePath("x.csv");
    QCOMPARE(w->exportCsv(path), QString());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), DelaysCsv(MakeRun(10, true)));
    QVERIFY(!w->exportCsv(dir.filePath("no/such/folder/x.csv")).isEmpty());

    // Closing only hides it; the dialog's end deletes it with the dialog.
    w->closeButton->click();
    QVERIFY(!w->isVisible());
    QPointer<StatisticsWindow> gone = w;
    g.accept();
    QVERIFY(gone);
}

// With an owner the window outlives the dialog, is the same window for the
// next dialog, which hands it its own run as it comes up, and goes with the
// owner.
void TestGraph::statisticsWindowOwner()
{
    SetState(0, 11);
    auto owner = std::make_unique<QWidget>();
    QPointer<StatisticsWindow> w;
    {
        LastRun = MakeRun(4, false);
        Graph g;
        g.setStatisticsOwner(owner.get());
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        g.statisticsButton->click();
        w = g.statisticsWindow();
        QVERIFY(w);
        QCOMPARE(w->parentWidget(), owner.get());
        QCOMPARE(w->windowHandle()->transientParent(), g.windowHandle());
        g.accept();
    }
    QVERIFY(w);
    QVERIFY(w->isVisible());
    QCOMPARE(w->model->rowCount(), 4);

    LastRun = MakeRun(7, true);
    {
        Graph g;
        g.setStatisticsOwner(owner.get());
        QCOMPARE(g.statisticsWindow(), w.data());
        QCOMPARE(w->model->rowCount(), 4); // until the dialog comes up
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        QCOMPARE(w->model->rowCount(), 7);
        QCOMPARE(w->windowHandle()->transientParent(), g.windowHandle());
        QCOMPARE(w->stats->item(0, 1)->text(), QStringLiteral("7"));
    }
    QVERIFY(w);
    owner.reset();
    QVERIFY(!w);
}

QTEST_MAIN(TestGraph)
#include "tst_graph.moc"
