// What the graph dialog shows for a given shared measurement state: the time
// axis per oscilloscope type, the curves, their legend, the edge markers, the
// result boxes and their tooltips, zooming, the geometry of every control;
// and the Statistics window it opens, with its table, figures and plots.
#include "graph/delaytablemodel.h"
#include "graph/graph.h"
#include "graph/graphform.h"
#include "measurement/histogram.h"
#include "graph/resultbox.h"
#include "graph/statisticsfollow.h"
#include "graph/statisticswindow.h"
#include "graph/tracesplot.h"
#include "measurement/delaycalc.h"
#include "measurement/delayscsv.h"
#include "measurement/runfiles.h"
#include "shared/measstate.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QtTest>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_histogram.h>
#include <qwt_legend.h>
#include <qwt_magnifier.h>
#include <qwt_panner.h>
#include <qwt_picker.h>
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
    void initTestCase();
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
    void plotAsDescribed();
    void histogram_data();
    void histogram();
    void statisticsWindow();
    void tracesPage();
    void statisticsLayoutAndPlace();
    void followsRunUnderWay();

private:
    QTemporaryDir home;
};

// The Statistics window keeps its place under the data folder: a private one.
void TestGraph::initTestCase()
{
    QVERIFY(home.isValid());
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath("share").toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
}

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

// The plot holds exactly what the dialog is described with: three untitled
// curves and a marker per edge, no legend (neither an item in the canvas nor
// one beside it), no grid, and nothing that zooms or picks: a drag and the
// wheel leave the axes as they were.
void TestGraph::plotAsDescribed()
{
    SetState(0, 1001);
    d1[900] = 1.0;
    Graph g;
    g.show();
    QVERIFY(QTest::qWaitForWindowExposed(&g));
    QwtPlot *plt = g.form->plt;
    QWidget *canvas = plt->canvas();

    QCOMPARE(plt->itemList().size(), 6);
    QCOMPARE(plt->itemList(QwtPlotItem::Rtti_PlotCurve).size(), 3);
    QCOMPARE(plt->itemList(QwtPlotItem::Rtti_PlotMarker).size(), 3);
    QVERIFY(plt->itemList(QwtPlotItem::Rtti_PlotLegend).isEmpty());
    QVERIFY(plt->itemList(QwtPlotItem::Rtti_PlotGrid).isEmpty());
    QVERIFY(!plt->legend());
    for (const QwtPlotCurve *c : {g.Crv1, g.Crv2, g.Crv3})
        QVERIFY(c->title().isEmpty());
    QVERIFY(canvas->findChildren<QwtPicker *>().isEmpty());
    QVERIFY(canvas->findChildren<QwtMagnifier *>().isEmpty());
    QVERIFY(canvas->findChildren<QwtPanner *>().isEmpty());
    QVERIFY(plt->findChildren<QwtPicker *>().isEmpty());

    auto at = [plt](double x, double y) {
        return QPoint(int(plt->transform(QwtPlot::xBottom, x)), int(plt->transform(QwtPlot::yLeft, y)));
    };
    const QwtInterval x = plt->axisInterval(QwtPlot::xBottom);
    const QwtInterval y = plt->axisInterval(QwtPlot::yLeft);
    Mouse(canvas, QEvent::MouseButtonPress, Qt::LeftButton, at(-0.2, 0.8));
    Mouse(canvas, QEvent::MouseMove, Qt::LeftButton, at(0.1, 0.2));
    Mouse(canvas, QEvent::MouseButtonRelease, Qt::LeftButton, at(0.1, 0.2));
    const QPoint centre = canvas->rect().center();
    QWheelEvent wheel(centre, canvas->mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(canvas, &wheel);
    QCOMPARE(plt->axisInterval(QwtPlot::xBottom), x);
    QCOMPARE(plt->axisInterval(QwtPlot::yLeft), y);
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

    // Save report: the run shown with its figures and plots, the last
    // traces the graph handed over; a folder that is not there says why.
    QVERIFY(w->reportButton->isVisible());
    QCOMPARE(w->saveReport(dir.filePath("r.html")), QString());
    QFile r(dir.filePath("r.html"));
    QVERIFY(r.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(r.readAll());
    QVERIFY2(html.contains("data-record=\"statistics.src2Snk.mean\">121.000</td>"), qPrintable(html));
    QVERIFY(html.contains("data-record=\"statistics.src2Rf.missing\">1</td>"));
    QCOMPARE(html.count("<svg"), 5);
    QVERIFY(html.contains("Traces of measurement 10"));
    QVERIFY(!w->saveReport(dir.filePath("none/r.html")).isEmpty());
}

// Measurement k's traces: the source at 0.1 k V, the RF envelope at 0.01 k,
// the sink at 0.02 k, over the Orvix window.
namespace {

MeasurementTraces TracesOf(int k, int pts)
{
    MeasurementTraces m;
    m.t = BuildTimeAxis(pts, OscTypeOf(0));
    m.traces = KeptTraces{pts, QVector<double>(pts, 0.1 * k), QVector<double>(pts, 0.01 * k),
                          QVector<double>(pts, 0.02 * k)};
    return m;
}

QByteArray Head(const QString &path, int n)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(n) : QByteArray();
}

} // namespace

// The Traces page shows any measurement by its number: the last from
// memory, earlier ones from their trace files, saying which; one whose file
// is gone, or any of a run that saved none, gets a note and empty curves.
// The channels are named in a legend, each edge is marked in ms, the page
// zooms, and it saves as PNG, SVG, PDF or JPEG (nothing else).
void TestGraph::tracesPage()
{
    QTemporaryDir dir;
    RunRecord run = MakeRun(3, false);
    run.settings.osType = 0;
    for (Measurement &m : run.measurements) {
        m.tsrc = 0.0;
        m.trf = 0.04;
        m.tsnk = m.index == 1 ? NaN : 0.12;
    }
    const int pts = 101;
    for (int k = 1; k <= 2; ++k) {
        const MeasurementTraces m = TracesOf(k, pts);
        QStringList files;
        const QVector<double> *ys[3] = {&m.traces.src, &m.traces.rf, &m.traces.snk};
        for (int i = 0; i < 3; ++i) {
            files << dir.filePath(QStringLiteral("m%1_%2.bin").arg(k).arg(i));
            QCOMPARE(SaveTraceFile(files.last(), *ys[i], pts), 0);
        }
        run.traceFiles << files;
    }
    run.traceFiles << QStringList{QString(), QString(), QString()}; // the last: not written
    QVERIFY(QFile::remove(run.traceFiles[1][2]));

    StatisticsWindow w;
    w.showRun(run, TracesOf(3, pts));
    w.pages->setCurrentIndex(StatisticsWindow::TracesPage);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto curveY = [&w](int c) { return w.traceCurves[c]->dataSize() ? w.traceCurves[c]->sample(0).y() : NaN; };
    auto labels = [&w] {
        QStringList out;
        for (QwtPlotItem *item : w.traces->itemList(QwtPlotItem::Rtti_PlotMarker))
            out << static_cast<QwtPlotMarker *>(item)->label().text();
        return out;
    };

    // The last measurement, from memory, with its edges marked in ms.
    QCOMPARE(w.traceIndex->value(), 3);
    QCOMPARE(w.traceIndex->maximum(), 3);
    QVERIFY2(w.traceNote->text().contains("from memory"), qPrintable(w.traceNote->text()));
    QCOMPARE(int(w.traceCurves[0]->dataSize()), pts);
    QCOMPARE(curveY(0), 0.3);
    QCOMPARE(w.traceCurves[2]->sample(pts - 1), QPointF(500.0, 0.06));
    QCOMPARE(labels(), (QStringList{"tsrc = 0.000 ms", "trf = 40.000 ms", "tsnk = 120.000 ms"}));
    QVERIFY(qobject_cast<QwtLegend *>(w.traces->legend()));
    QCOMPARE(w.traceCurves[0]->title().text(), QStringLiteral("Source (channel 1)"));
    QCOMPARE(w.traceCurves[2]->title().text(), QStringLiteral("Sink (channel 2)"));

    // An earlier one from its files; the edge not found has no mark.
    w.traceIndex->setValue(1);
    QVERIFY2(w.traceNote->text().contains("from its trace files (m1_0.bin)"), qPrintable(w.traceNote->text()));
    QCOMPARE(curveY(0), 0.1);
    QCOMPARE(curveY(1), 0.01);
    QCOMPARE(curveY(2), 0.02);
    QCOMPARE(labels(), (QStringList{"tsrc = 0.000 ms", "trf = 40.000 ms"}));

    // Zoom: a rubber band, then a right click back to the whole record.
    QWidget *canvas = w.traces->canvas();
    auto at = [&w](double x, double y) {
        return QPoint(int(w.traces->transform(QwtPlot::xBottom, x)), int(w.traces->transform(QwtPlot::yLeft, y)));
    };
    const QwtInterval full = w.traces->axisInterval(QwtPlot::xBottom);
    Mouse(canvas, QEvent::MouseButtonPress, Qt::LeftButton, at(-100, 0.09));
    Mouse(canvas, QEvent::MouseMove, Qt::LeftButton, at(100, 0.02));
    Mouse(canvas, QEvent::MouseButtonRelease, Qt::LeftButton, at(100, 0.02));
    QVERIFY(w.traces->axisInterval(QwtPlot::xBottom).width() < 0.5 * full.width());
    Mouse(canvas, QEvent::MouseButtonPress, Qt::RightButton, at(0, 0.05));
    Mouse(canvas, QEvent::MouseButtonRelease, Qt::RightButton, at(0, 0.05));
    QCOMPARE(w.traces->axisInterval(QwtPlot::xBottom), full);

    // Pictures in the format the name asks for.
    const QList<QPair<QString, QByteArray>> formats = {
        {"t.png", "\x89PNG"}, {"t.SVG", "<?xml"}, {"t.pdf", "%PDF"}, {"t.jpeg", "\xff\xd8"}};
    for (const auto &f : formats) {
        QCOMPARE(w.saveImage(StatisticsWindow::Picture::Traces, dir.filePath(f.first)), QString());
        QCOMPARE(Head(dir.filePath(f.first), f.second.size()), f.second);
    }
    QVERIFY(Head(dir.filePath("t.SVG"), 400).contains("<svg"));
    QVERIFY(w.saveImage(StatisticsWindow::Picture::Traces, dir.filePath("t.gif")).contains("PNG, JPEG, SVG or PDF"));
    QVERIFY(!QFile::exists(dir.filePath("t.gif")));
    QCOMPARE(w.saveImage(StatisticsWindow::Picture::Histograms, dir.filePath("h.png")), QString());
    QCOMPARE(w.saveImage(StatisticsWindow::Picture::Trend, dir.filePath("trend.pdf")), QString());
    QVERIFY(w.saveImage(StatisticsWindow::Picture::Trend, dir.filePath("none/x.png")).size() > 0);

    // A file gone: said, and nothing drawn.
    w.traceIndex->setValue(2);
    QVERIFY2(w.traceNote->text().contains("cannot be shown") && w.traceNote->text().contains("m2_2.bin"),
             qPrintable(w.traceNote->text()));
    QCOMPARE(int(w.traceCurves[0]->dataSize()), 0);
    QVERIFY(labels().isEmpty());

    // A run that saved no trace files: only its last measurement has traces.
    run.traceFiles.clear();
    w.showRun(run, TracesOf(3, pts));
    w.traceIndex->setValue(1);
    QVERIFY2(w.traceNote->text().contains("were not saved"), qPrintable(w.traceNote->text()));
    QCOMPARE(int(w.traceCurves[0]->dataSize()), 0);
    w.traceIndex->setValue(3);
    QCOMPARE(curveY(0), 0.3);

    // A double-click in the table opens that measurement's traces.
    w.pages->setCurrentIndex(StatisticsWindow::FiguresPage);
    const QRect cell = w.table->visualRect(w.model->index(1, DelayTableModel::IndexColumn));
    QTest::mouseClick(w.table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    QTest::mouseDClick(w.table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    QCOMPARE(w.pages->currentIndex(), StatisticsWindow::TracesPage);
    QCOMPARE(w.traceIndex->value(), 2);
}

// With the HDMI delay off its path has no histogram, only a note; at 800 x
// 600 nothing lies on top of anything and no header or interval is cut
// (the page scrolls instead); the window comes back where it was closed.
void TestGraph::statisticsLayoutAndPlace()
{
    {
        StatisticsWindow w;
        w.showRun(MakeRun(10, false));
        w.resize(800, 600);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.size(), QSize(800, 600));
        QVERIFY(w.histograms[int(DelayPath::Src2Hd)]->isHidden());
        QVERIFY(w.notMeasured[int(DelayPath::Src2Hd)]->isVisible());
        QVERIFY(w.notMeasured[int(DelayPath::Src2Hd)]->text().contains("not measured"));
        QVERIFY(w.histograms[int(DelayPath::Src2Rf)]->isVisible());

        // Siblings in the Figures page never overlap.
        const QList<QWidget *> figures = {w.stats, w.histograms[0], w.notMeasured[1], w.histograms[2]};
        for (QWidget *a : figures)
            for (QWidget *b : figures)
                if (a != b)
                    QVERIFY2(!a->geometry().intersects(b->geometry()),
                             qPrintable(a->objectName() + " / " + b->objectName()));
        QVERIFY(!w.table->geometry().intersects(w.pages->geometry()));
        const QFontMetrics fm = w.stats->horizontalHeader()->fontMetrics();
        for (int c = 0; c < 3; ++c) {
            const QString head = w.stats->horizontalHeaderItem(c)->text();
            QVERIFY2(w.stats->horizontalHeader()->sectionSize(c) >= fm.horizontalAdvance(head), qPrintable(head));
            const QString interval = w.stats->item(9, c)->text();
            QVERIFY2(w.stats->horizontalHeader()->sectionSize(c) >= w.stats->fontMetrics().horizontalAdvance(interval),
                     qPrintable(interval));
        }
        w.setGeometry(QRect(QPoint(30, 40), QSize(760, 560)));
        QTest::qWait(50);
        w.close();
    }
    StatisticsWindow again;
    QCOMPARE(again.size(), QSize(760, 560));
}

// While a run is under way an open window follows it: its rows and figures
// so far, the Traces page waiting for the end; the follower redraws at most
// five times a second and not at all while the window is closed.
void TestGraph::followsRunUnderWay()
{
    QWidget owner;
    auto *w = new StatisticsWindow(&owner);
    RunRecord sofar = MakeRun(4, true);
    sofar.requested = 10;
    StatisticsFollower follower(&owner);
    follower.update(sofar);
    QCOMPARE(follower.redraws(), 0); // not open
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    for (int i = 0; i < 5; ++i)
        follower.update(sofar);
    QCOMPARE(follower.redraws(), 1);
    QVERIFY(w->following());
    QCOMPARE(w->model->rowCount(), 4);
    QVERIFY2(w->summary->text().contains("under way") && w->summary->text().contains("4 of 10"),
             qPrintable(w->summary->text()));
    QVERIFY(w->traceNote->text().contains("under way"));
    QCOMPARE(int(w->traceCurves[0]->dataSize()), 0);

    QVERIFY(follower.intervalMs() >= StatisticsFollower::MinIntervalMs);
    QTest::qWait(int(follower.intervalMs()) + 50);
    sofar = MakeRun(6, true);
    follower.update(sofar);
    QCOMPARE(follower.redraws(), 2);
    QCOMPARE(w->model->rowCount(), 6);

    w->showRun(sofar, TracesOf(6, 11));
    QVERIFY(!w->following());
    QCOMPARE(int(w->traceCurves[0]->dataSize()), 11);
}

QTEST_MAIN(TestGraph)
#include "tst_graph.moc"
