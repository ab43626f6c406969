// What the graph dialog shows for a given shared measurement state: the time
// axis per oscilloscope type, the curves, their legend, the edge markers, the
// result boxes and their tooltips, zooming, the geometry of every control;
// and the Statistics window it opens, with its table, figures and plots.
#include "graph/delaytablemodel.h"
#include "graph/graph.h"
#include "graph/graphform.h"
#include "measurement/histogram.h"
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
    t = BuildTimeAxis(pts, OscTypeOf(type));
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

// n measurements: Source->RF 40 + k % 5 ms with the third RF trace not
// read, Source->Sink 120 + k % 3 ms, the HDMI reading 35.5 when measured.
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
        m.src2Rf = k == 3 ? NaN : 40.0 + k % 5;
        m.rfGap = k == 3 ? DelayGap::TraceNotRead : DelayGap::None;
        m.src2Snk = 120.0 + k % 3;
        m.src2Hd = hdmi ? 35.5 : 0.0;
        m.hdGap = hdmi ? DelayGap::None : DelayGap::NotMeasured;
        run.measurements << m;
    }
    return run;
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
    void legendAndZoom();
    void histogram_data();
    void histogram();
    void statisticsWindow();
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

// Nothing that was there moves: every control keeps its geometry, and OK
// its place (as in a box holding only OK), role and default; Statistics…
// sits left of it.
void TestGraph::geometryStays()
{
    SetState(0, 11);
    Graph g;
    g.show();
    QDialog bareDialog; // a dialog's default button may be drawn larger
    bareDialog.setFont(g.font());
    auto *bare = new QDialogButtonBox(QDialogButtonBox::Ok, &bareDialog);
    bare->setGeometry(650, 400, 161, 32);
    bareDialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&g) && QTest::qWaitForWindowExposed(&bareDialog));
    const GraphForm *f = g.form.get();
    QCOMPARE(g.size(), QSize(817, 434));
    const QList<QPair<QWidget *, QRect>> fixed = {
        {f->buttonBox, {650, 400, 161, 32}}, {f->plt, {0, 10, 791, 381}},     {f->Src2Rf, {114, 400, 81, 22}},
        {f->label, {200, 402, 21, 16}},      {f->label_2, {47, 402, 71, 16}}, {f->label_3, {406, 402, 21, 16}},
        {f->label_5, {237, 402, 81, 16}},    {f->Src2Hd, {320, 400, 81, 22}}, {f->label_4, {449, 402, 71, 16}},
        {f->Src2Snk, {524, 400, 81, 22}},    {f->label_6, {610, 402, 21, 16}}};
    for (const auto &w : fixed)
        QCOMPARE(w.first->geometry(), w.second);
    QPushButton *ok = f->buttonBox->button(QDialogButtonBox::Ok);
    QCOMPARE(ok->geometry(), bare->button(QDialogButtonBox::Ok)->geometry());
    QCOMPARE(f->buttonBox->buttonRole(ok), QDialogButtonBox::AcceptRole);
    QVERIFY(ok->isDefault() && !g.statisticsButton->autoDefault());
    QVERIFY(g.statisticsButton->geometry().left() >= 0 && g.statisticsButton->geometry().right() < ok->x());
    QVERIFY(g.statisticsButton->width() > g.statisticsButton->fontMetrics().horizontalAdvance(g.statisticsButton->text()));
    g.statisticsButton->click(); // opens a window, does not close the dialog
    QVERIFY(g.isVisible());
    ok->click();
    QCOMPARE(g.result(), int(QDialog::Accepted));
}

// The legend names exactly the three curves, inside the canvas; a rubber
// band with the left button zooms, so does the wheel, and a right click
// brings back the full record with the y axis autoscaled again.
void TestGraph::legendAndZoom()
{
    SetState(0, 1001);
    d1[900] = 1.0;
    Graph g;
    g.show();
    QVERIFY(QTest::qWaitForWindowExposed(&g));
    QwtPlot *plt = g.form->plt;
    QWidget *canvas = plt->canvas();
    QCOMPARE(plt->itemList(QwtPlotItem::Rtti_PlotLegend), QList<QwtPlotItem *>{g.legend});
    QCOMPARE(g.legend->plotItems().size(), 3);
    const QStringList titles{"Source (channel 1)", "RF envelope", "Sink (channel 2)"};
    const QwtPlotCurve *curves[] = {g.Crv1, g.Crv2, g.Crv3};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(curves[i]->title().text(), titles[i]);
        QVERIFY(canvas->contentsRect().contains(g.legend->legendGeometries(curves[i]).value(0)));
    }

    auto span = [plt](int axis) { return plt->axisScaleDiv(axis); };
    auto at = [plt](double x, double y) {
        return QPoint(int(plt->transform(QwtPlot::xBottom, x)), int(plt->transform(QwtPlot::yLeft, y)));
    };
    auto rightClick = [&] {
        Mouse(canvas, QEvent::MouseButtonPress, Qt::RightButton, at(0.0, 0.5));
        Mouse(canvas, QEvent::MouseButtonRelease, Qt::RightButton, at(0.0, 0.5));
        QCOMPARE(span(QwtPlot::xBottom).lowerBound(), -0.5);
        QCOMPARE(span(QwtPlot::xBottom).upperBound(), 0.5);
        QVERIFY(plt->axisAutoScale(QwtPlot::yLeft));
    };
    Mouse(canvas, QEvent::MouseButtonPress, Qt::LeftButton, at(-0.2, 0.8));
    Mouse(canvas, QEvent::MouseMove, Qt::LeftButton, at(0.1, 0.2));
    Mouse(canvas, QEvent::MouseButtonRelease, Qt::LeftButton, at(0.1, 0.2));
    QVERIFY(std::fabs(span(QwtPlot::xBottom).lowerBound() + 0.2) < 0.01);
    QVERIFY(std::fabs(span(QwtPlot::xBottom).upperBound() - 0.1) < 0.01);
    QVERIFY(std::fabs(span(QwtPlot::yLeft).upperBound() - 0.8) < 0.02);
    rightClick();
    const QPoint centre = canvas->rect().center();
    QWheelEvent wheel(centre, canvas->mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(canvas, &wheel);
    QVERIFY(span(QwtPlot::xBottom).range() < 0.95);
    rightClick(); // also after wheel zooming, which no zoom stack saw
    QCOMPARE(g.form->Src2Rf->text(), QStringLiteral("40.000"));
}

void TestGraph::histogram_data()
{
    QTest::addColumn<QVector<double>>("values");
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("width");
    QTest::addColumn<QVector<int>>("counts");

    QTest::newRow("only NaN") << QVector<double>{NaN} << 0.0 << 0.0 << QVector<int>();
    QTest::newRow("all equal: one bin of 1") << QVector<double>{35.2, 35.2, NaN} << 34.7 << 1.0 << QVector<int>{2};
    // 4 values -> 2 bins; span 3 / 2 = 1.5 -> the round width 2, from 40.
    QTest::newRow("round width") << QVector<double>{40.1, 41.0, 42.9, 43.1} << 40.0 << 2.0 << QVector<int>{2, 2};
    QTest::newRow("largest on an edge") << QVector<double>{0, 1, 2, 3, 4, 5, 6, 7, 8, qInf()} << 0.0 << 5.0
                                        << QVector<int>{5, 4};
}

void TestGraph::histogram()
{
    QFETCH(QVector<double>, values);
    QFETCH(double, start);
    QFETCH(double, width);
    QFETCH(QVector<int>, counts);
    const Histogram h = MakeHistogram(values);
    QVERIFY(std::fabs(h.start - start) < 1e-12);
    QCOMPARE(h.width, width);
    QCOMPARE(h.counts, counts);
    QCOMPARE(RoundBinWidth(0.3 / 3), 0.1);
    QVERIFY(MakeHistogram({0, 1e-9, 1e300}, 50).counts.size() <= 51); // a wild value costs no memory
}

// The result boxes' tooltips give each path's spread; the Statistics
// window shows the graph's run (a copy) measurement by measurement with the
// reason where a value is missing, the figures and plots per path; Ctrl+C
// copies the selection as tab-separated text; Export writes the delay table.
void TestGraph::statisticsWindow()
{
    SetState(0, 11);
    LastRun = MakeRun(10, true);
    Graph g;
    // RF: 41 42 44 40 41 42 43 44 40 (the third not read): mean 377 / 9,
    // squared deviations 18.889 / 8; the 95th percentile at index 7.6 of the
    // sorted values, between two 44s.
    QCOMPARE(g.form->Src2Rf->toolTip(),
             QStringLiteral("Source->RF: n = 9 (1 without a value)\nstandard deviation 1.537 ms\n"
                            "minimum 40.000 ms, maximum 44.000 ms\n95th percentile 44.000 ms"));
    g.show();
    QVERIFY(QTest::qWaitForWindowExposed(&g));
    g.statisticsButton->click();
    StatisticsWindow *w = g.statisticsWindow();
    QVERIFY(w && QTest::qWaitForWindowExposed(w));
    QVERIFY(w->isWindow() && !w->isModal() && w->parentWidget() == &g);
    LastRun = RunRecord();
    QCOMPARE(w->model->rowCount(), 10);
    QCOMPARE(w->model->index(2, DelayTableModel::RfColumn).data().toString(), QStringLiteral("trace not read"));
    QCOMPARE(w->model->index(0, DelayTableModel::TimeColumn).data(DelayTableModel::CopyRole).toString(),
             QStringLiteral("2026-03-01T14:05:09.250+01:00"));
    QVERIFY(w->summary->text().contains(QStringLiteral("10 of 10 measurements")));
    // Rows n, without, mean, sd, min, max, median, p5, p95, CI. Sink: mean
    // 121, sd sqrt(6 / 9); t(0.975, 9) = 2.2622.
    QCOMPARE(w->stats->item(1, 0)->text(), QStringLiteral("1"));
    QCOMPARE(w->stats->item(3, 1)->text(), QStringLiteral("0.000"));
    QCOMPARE(w->stats->item(9, 2)->text(), QString::fromUtf8("120.416 … 121.584"));
    const int withValue[3] = {9, 10, 10};
    for (int path = 0; path < 3; ++path) {
        const auto *h = static_cast<QwtPlotHistogram *>(w->histograms[path]->itemList(QwtPlotItem::Rtti_PlotHistogram).value(0));
        double total = 0;
        for (size_t i = 0; h && i < h->dataSize(); ++i)
            total += h->sample(int(i)).value;
        QCOMPARE(int(total), withValue[path]);
    }
    QCOMPARE(w->byIndex->itemList(QwtPlotItem::Rtti_PlotCurve).size(), 3);

    QItemSelection selection(w->model->index(1, DelayTableModel::RfColumn), w->model->index(2, DelayTableModel::RfColumn));
    selection.select(w->model->index(1, DelayTableModel::SnkColumn), w->model->index(2, DelayTableModel::SnkColumn));
    w->table->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    QTest::keySequence(w->table, QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("42\t122\n\t120\n"));

    QTemporaryDir dir;
    QCOMPARE(w->exportCsv(dir.filePath("x.csv")), QString());
    QFile f(dir.filePath("x.csv"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), DelaysCsv(MakeRun(10, true)));
}

QTEST_MAIN(TestGraph)
#include "tst_graph.moc"
