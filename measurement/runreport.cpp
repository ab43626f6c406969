#include "measurement/runreport.h"

#include "measurement/markuptext.h"
#include "measurement/reportplots.h"
#include "measurement/runrecord.h"
#include "measurement/uncertaintytext.h"
#include "shared/version.h"

#include <QDateTime>
#include <QSaveFile>

#include <cmath>

namespace {

// Printed on A4 with the browser's own margins off; on screen one column
// the width of the page. Only the reader's own sans-serif font.
const char *const Style = R"(
@page { size: A4; margin: 14mm 12mm; }
body { font-family: sans-serif; font-size: 10pt; color: #111; max-width: 186mm; margin: 0 auto; padding: 8px; }
h1 { font-size: 16pt; margin: 0 0 4px; }
h2 { font-size: 12.5pt; margin: 18px 0 6px; border-bottom: 1px solid #999; break-after: avoid; }
p { margin: 4px 0; }
table { border-collapse: collapse; margin: 4px 0 8px; }
th, td { border: 1px solid #bbb; padding: 2px 6px; text-align: left; vertical-align: top; }
th { background: #f0f0f0; font-weight: normal; }
td.n { text-align: right; white-space: nowrap; font-variant-numeric: tabular-nums; }
#run td.n, #settings td.n, #calibration td.n { text-align: left; }
.note { color: #555; font-style: italic; }
.met { color: #066a00; font-weight: bold; }
.exceeded { color: #b00000; font-weight: bold; }
.inconclusive { color: #9a5a00; font-weight: bold; }
.plots { display: flex; flex-wrap: wrap; gap: 6px; }
.plots figure { margin: 0; flex: 1 1 30%; min-width: 55mm; }
figure { margin: 0; break-inside: avoid; }
svg.plot { width: 100%; height: auto; display: block; }
section { break-inside: avoid-page; }
footer { margin-top: 16px; color: #555; font-size: 8.5pt; }
@media print { body { max-width: none; padding: 0; } }
)";

// At most this many acquisitions taken again are listed one by one.
constexpr int MaxListedRetakes = 20;

QString Esc(const QString &text)
{
    return MarkupText(text);
}

// A number with `decimals` decimals, "-" where there is none.
QString Fixed(double v, int decimals)
{
    return UncertaintyNumber(v, decimals);
}

QString Shortest(double v)
{
    return std::isfinite(v) ? QString::number(v, 'g', 10) : QStringLiteral("-");
}

// A value from the record in a table cell, marked with its member.
QString Td(const QString &member, const QString &text, bool number = true)
{
    return QStringLiteral("<td%1 data-record=\"%2\">%3</td>")
        .arg(number ? QStringLiteral(" class=\"n\"") : QString(), Esc(member), Esc(text));
}

QString Span(const QString &member, const QString &text)
{
    return QStringLiteral("<span data-record=\"%1\">%2</span>").arg(Esc(member), Esc(text));
}

QString Row(const QString &head, const QString &cells)
{
    return QStringLiteral("<tr><th>%1</th>%2</tr>\n").arg(Esc(head), cells);
}

QString YesNo(bool b)
{
    return b ? QStringLiteral("yes") : QStringLiteral("no");
}

QString OrNone(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("none") : text;
}

QString Duration(const QString &started, const QString &ended)
{
    const QDateTime a = QDateTime::fromString(started, Qt::ISODateWithMs);
    const QDateTime b = QDateTime::fromString(ended, Qt::ISODateWithMs);
    if (!a.isValid() || !b.isValid() || b < a)
        return QStringLiteral("-");
    const qint64 ms = a.msecsTo(b);
    if (ms < 120000)
        return QStringLiteral("%1 s").arg(QString::number(ms / 1000.0, 'f', 1));
    const qint64 s = ms / 1000;
    return QStringLiteral("%1 h %2 min %3 s").arg(s / 3600).arg((s / 60) % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString RetakeWords(const QString &code)
{
    if (code == QLatin1String("outsideWindow"))
        return RetakeReasonText(RetakeReason::OutsideWindow);
    if (code == QLatin1String("noNewTrace"))
        return RetakeReasonText(RetakeReason::NoNewTrace);
    return code;
}

QString EndWords(const RecordedRun &run)
{
    if (run.endState == QLatin1String("completed"))
        return QStringLiteral("completed");
    return run.endState.isEmpty() ? QStringLiteral("not recorded") : run.endState;
}

QString Header(const ReportInput &in)
{
    const RecordedRun &run = in.run;
    const QString name = run.label.isEmpty() ? run.stamp : run.label;
    QString html = QStringLiteral("<header>\n<h1>Run report%1</h1>\n")
                       .arg(name.isEmpty() ? QString() : QStringLiteral(": ") + Esc(name));
    QString line = QStringLiteral("%1 of %2 measurements kept, %3")
                       .arg(run.measurements.size())
                       .arg(run.requested)
                       .arg(Esc(EndWords(run)));
    if (!run.started.isEmpty())
        line += QStringLiteral("; started %1").arg(Esc(run.started));
    if (in.limitsJudged && !in.limits.isEmpty()) {
        int met = 0;
        for (const LimitVerdict &v : in.limits)
            met += v.outcome == LimitOutcome::Met;
        line += QStringLiteral("; %1 of %2 limits met").arg(met).arg(in.limits.size());
    }
    return html + QStringLiteral("<p>%1.</p>\n</header>\n").arg(line);
}

QString RunSection(const ReportInput &in)
{
    const RecordedRun &run = in.run;
    QString t = QStringLiteral("<section id=\"run\">\n<h2>Run</h2>\n<table>\n");
    t += Row(QStringLiteral("Tool"), QStringLiteral("<td>%1 %2</td>")
                                         .arg(Span(QStringLiteral("tool.name"), run.toolName),
                                              Span(QStringLiteral("tool.version"), run.toolVersion)));
    t += Row(QStringLiteral("Run record"),
             QStringLiteral("<td>schema version %1%2</td>")
                 .arg(Span(QStringLiteral("schemaVersion"), QString::number(run.schemaVersion)),
                      in.source.isEmpty() ? QString() : QStringLiteral(", ") + Esc(in.source)));
    t += Row(QStringLiteral("Label"), Td(QStringLiteral("label"), OrNone(run.label), false));
    if (!run.stamp.isEmpty())
        t += Row(QStringLiteral("Stamp"), Td(QStringLiteral("stamp"), run.stamp, false));
    t += Row(QStringLiteral("Started"), Td(QStringLiteral("started"), run.started, false));
    t += Row(QStringLiteral("Ended"), Td(QStringLiteral("ended"), run.ended, false));
    t += Row(QStringLiteral("Duration"), QStringLiteral("<td>%1</td>").arg(Duration(run.started, run.ended)));
    t += Row(QStringLiteral("Measurements asked for"), Td(QStringLiteral("requested"), QString::number(run.requested)));
    t += Row(QStringLiteral("Measurements kept"), Td(QStringLiteral("kept"), QString::number(run.kept)));
    t += Row(QStringLiteral("End"), QStringLiteral("<td>%1%2</td>")
                                        .arg(Span(QStringLiteral("end.state"), run.endState),
                                             run.endReason.isEmpty()
                                                 ? QString()
                                                 : QStringLiteral(": ") + Span(QStringLiteral("end.reason"), run.endReason)));
    // Taken again: how many, why, and the first few with what they said.
    QStringList codes;
    QVector<int> counts;
    for (const RecordedRetake &r : run.retakes) {
        const int i = codes.indexOf(r.reason);
        if (i < 0) {
            codes << r.reason;
            counts << 1;
        } else {
            ++counts[i];
        }
    }
    QStringList why;
    for (int i = 0; i < codes.size(); ++i)
        why << QStringLiteral("%1 %2").arg(counts[i]).arg(Esc(RetakeWords(codes[i])));
    t += Row(QStringLiteral("Acquisitions taken again"),
             QStringLiteral("<td><span data-count=\"retakes\">%1</span>%2</td>")
                 .arg(run.retakes.size())
                 .arg(why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why.join(QStringLiteral(", ")))));
    t += QStringLiteral("</table>\n");
    if (!run.retakes.isEmpty()) {
        t += QStringLiteral("<table>\n<tr><th>For measurement</th><th>Why</th><th>Detail</th></tr>\n");
        for (int i = 0; i < std::min(MaxListedRetakes, run.retakes.size()); ++i) {
            const RecordedRetake &r = run.retakes[i];
            const QString at = QStringLiteral("retakes.%1.").arg(i);
            t += QStringLiteral("<tr>%1%2%3</tr>\n")
                     .arg(Td(at + QStringLiteral("forMeasurement"), QString::number(r.forMeasurement)),
                          QStringLiteral("<td>%1</td>").arg(Esc(RetakeWords(r.reason))),
                          Td(at + QStringLiteral("detail"), r.detail.isEmpty() ? QStringLiteral("-") : r.detail, false));
        }
        t += QStringLiteral("</table>\n");
        if (run.retakes.size() > MaxListedRetakes)
            t += QStringLiteral("<p class=\"note\">The first %1 of %2 are listed; the run record has them all.</p>\n")
                     .arg(MaxListedRetakes)
                     .arg(run.retakes.size());
    }
    return t + QStringLiteral("</section>\n");
}

QString SettingsSection(const RecordedRun &run)
{
    QString t = QStringLiteral("<section id=\"settings\">\n<h2>Settings and instruments</h2>\n");
    if (!run.hasSettings)
        return t + QStringLiteral("<p class=\"note\">The record holds no settings.</p>\n</section>\n");
    const BenchSettings &b = run.settings;
    auto number = [](const QString &member, double v, const char *unit) {
        return Td(member, std::isfinite(v) ? QStringLiteral("%1 %2").arg(Shortest(v), QLatin1String(unit))
                                           : QStringLiteral("-"));
    };
    t += QStringLiteral("<table>\n<tr><th>Instrument</th><th>Setting</th><th>Value</th></tr>\n");
    auto row = [&t](const char *instrument, const char *setting, const QString &cell) {
        t += QStringLiteral("<tr><td>%1</td><td>%2</td>%3</tr>\n")
                 .arg(QLatin1String(instrument), QLatin1String(setting), cell);
    };
    row("Oscilloscope", "Resource", Td(QStringLiteral("settings.oscilloscope.resource"), b.osIp, false));
    row("", "Type", Td(QStringLiteral("settings.oscilloscope.type"), run.oscType, false));
    row("", "Reset", Td(QStringLiteral("settings.oscilloscope.reset"), YesNo(b.osReset), false));
    row("", "Trigger level", number(QStringLiteral("settings.oscilloscope.triggerLevelV"), b.trgLevel, "V"));
    row("Spectrum analyzer", "Resource", Td(QStringLiteral("settings.spectrumAnalyzer.resource"), b.saIp, false));
    row("", "Identity (*IDN?)",
        Td(QStringLiteral("instruments.spectrumAnalyzer.identity"), OrNone(run.saIdentity), false));
    row("", "Reset", Td(QStringLiteral("settings.spectrumAnalyzer.reset"), YesNo(b.saReset), false));
    row("", "Centre frequency",
        Td(QStringLiteral("settings.spectrumAnalyzer.centerFrequencyHz"),
           std::isfinite(b.centerFreq) ? QStringLiteral("%1 GHz").arg(QString::number(b.centerFreq / 1e9, 'g', 9))
                                       : QStringLiteral("-")));
    row("", "Use IF/Video-Demod", Td(QStringLiteral("settings.spectrumAnalyzer.ifDemod"), YesNo(b.ifDemod), false));
    row("Video analyzer", "Meas HDMI In/Out Delay", Td(QStringLiteral("settings.videoAnalyzer.hdmiDelay"), YesNo(b.hdmi), false));
    if (b.hdmi) {
        row("", "Resource", Td(QStringLiteral("settings.videoAnalyzer.resource"), b.vaIp, false));
        row("", "Reset", Td(QStringLiteral("settings.videoAnalyzer.reset"), YesNo(b.vaReset), false));
        row("", "Threshold", number(QStringLiteral("settings.videoAnalyzer.thresholdPercent"), b.threshold, "%"));
    }
    row("Files", "Save Data", Td(QStringLiteral("settings.saveData"), YesNo(b.saveData), false));
    if (!run.resultsFile.isEmpty())
        row("", "Results file", Td(QStringLiteral("files.results"), run.resultsFile, false));
    if (!run.csvFile.isEmpty())
        row("", "Delay table", Td(QStringLiteral("files.csv"), run.csvFile, false));
    row("Traces", "Samples per trace", Td(QStringLiteral("traces.recordLength"), QString::number(run.recordLength)));
    row("", "First sample", number(QStringLiteral("traces.firstSampleTimeS"), run.firstSampleTime, "s"));
    row("", "Sample interval",
        Td(QStringLiteral("traces.sampleIntervalS"),
           std::isfinite(run.sampleInterval)
               ? QString::fromUtf8("%1 \u00b5s").arg(QString::number(run.sampleInterval * 1e6, 'g', 6))
               : QStringLiteral("-")));
    return t + QStringLiteral("</table>\n</section>\n");
}

QString CalibrationSection(const RecordedRun &run)
{
    QString t = QStringLiteral("<section id=\"calibration\">\n<h2>Calibration</h2>\n");
    const Calibration &c = run.calibration;
    if (!run.calibrationRecorded)
        return t + QStringLiteral("<p class=\"note\">This record (schema version %1) does not say which calibration "
                                  "was used: it has no fine or corrected delays.</p>\n</section>\n")
                       .arg(run.schemaVersion);
    if (!run.calibrationProblem.isEmpty())
        return t + QStringLiteral("<p class=\"note\">The record's calibration cannot be read: %1.</p>\n</section>\n")
                       .arg(Esc(run.calibrationProblem));
    if (!c.loaded)
        return t + QStringLiteral("<p>No calibration: the corrected delays are the fine ones, and the time base is "
                                  "taken as %1 ppm.</p>\n</section>\n")
                       .arg(Shortest(DefaultTimeBasePpm));
    t += QStringLiteral("<table>\n");
    t += Row(QStringLiteral("Name"), Td(QStringLiteral("calibration.name"), OrNone(c.name), false));
    t += Row(QStringLiteral("Date"), Td(QStringLiteral("calibration.date"), OrNone(c.date), false));
    t += Row(QStringLiteral("Measured with"), Td(QStringLiteral("calibration.measuredWith"), OrNone(c.measuredWith), false));
    t += Row(QStringLiteral("Time base"),
             Td(QStringLiteral("calibration.timeBasePpm"), QStringLiteral("%1 ppm").arg(Shortest(c.timeBasePpm))));
    t += QStringLiteral("</table>\n<table>\n<tr><th>Path</th><th>Offset (ms)</th><th>Standard uncertainty "
                        "(ms)</th><th>How it was obtained</th></tr>\n");
    for (const DelayPathInfo &p : DelayPaths) {
        const PathCalibration &pc = c.of(p.path);
        const QString at = QStringLiteral("calibration.paths.%1.").arg(QLatin1String(p.key));
        if (!pc.set) {
            t += QStringLiteral("<tr><td>%1</td><td colspan=\"3\">no entry: nothing taken off</td></tr>\n")
                     .arg(QLatin1String(p.label));
            continue;
        }
        t += QStringLiteral("<tr><td>%1</td>%2%3%4</tr>\n")
                 .arg(QLatin1String(p.label), Td(at + QStringLiteral("offsetMs"), Shortest(pc.offsetMs)),
                      Td(at + QStringLiteral("uncertaintyMs"), Shortest(pc.uncertaintyMs)),
                      Td(at + QStringLiteral("note"), OrNone(pc.note), false));
    }
    return t + QStringLiteral("</table>\n</section>\n");
}

struct FigureRow
{
    const char *name;
    const char *member; // under statistics.<path>.
    double PathStats::*value;
};

const FigureRow FigureRows[] = {
    {"mean", "mean", &PathStats::mean},     {"standard deviation", "sd", &PathStats::sd},
    {"minimum", "min", &PathStats::min},    {"median", "median", &PathStats::median},
    {"5th percentile", "p5", &PathStats::p5}, {"95th percentile", "p95", &PathStats::p95},
    {"maximum", "max", &PathStats::max},
};

QString FiguresSection(const RecordedRun &run)
{
    QString t = QStringLiteral("<section id=\"figures\">\n<h2>Figures per path</h2>\n<table>\n<tr><th>(ms)</th>");
    for (const DelayPathInfo &p : DelayPaths)
        t += QStringLiteral("<th>%1%2</th>")
                 .arg(QLatin1String(p.label), run.measured(p.path) ? QString() : QStringLiteral(" (not measured)"));
    t += QStringLiteral("</tr>\n");
    auto member = [](const DelayPathInfo &p, const char *name) {
        return QStringLiteral("statistics.%1.%2").arg(QLatin1String(p.key), QLatin1String(name));
    };
    QString n, missing;
    for (const DelayPathInfo &p : DelayPaths) {
        n += Td(member(p, "n"), QString::number(run.statsOf(p.path).n));
        missing += Td(member(p, "missing"), QString::number(run.statsOf(p.path).missing));
    }
    t += Row(QStringLiteral("n"), n) + Row(QStringLiteral("missing"), missing);
    for (const FigureRow &f : FigureRows) {
        QString cells;
        for (const DelayPathInfo &p : DelayPaths)
            cells += Td(member(p, f.member), Fixed(run.statsOf(p.path).*f.value, 3));
        t += Row(QLatin1String(f.name), cells);
    }
    QString ci;
    for (const DelayPathInfo &p : DelayPaths) {
        const PathStats &s = run.statsOf(p.path);
        ci += QStringLiteral("<td class=\"n\">%1 .. %2</td>")
                  .arg(Span(member(p, "ci95.0"), Fixed(s.ciLow, 3)), Span(member(p, "ci95.1"), Fixed(s.ciHigh, 3)));
    }
    t += Row(QStringLiteral("95 % CI of the mean"), ci);
    t += QStringLiteral("</table>\n<p class=\"note\">Delays as the edges on the sample grid give them; a delay "
                        "without a value is left out and counted as missing. Percentiles interpolate linearly "
                        "between the closest ranks; the confidence interval is Student's.</p>\n</section>\n");
    return t;
}

struct UncertaintyRow
{
    const char *name;
    const char *member; // under statistics.<path>.
    double MeanUncertainty::*value;
    int decimals;
    bool bound; // an uncertainty: rounded up
};

const UncertaintyRow UncertaintyRows[] = {
    {"fine mean", "fineMean", &MeanUncertainty::fineMean, 4, false},
    {"corrected mean", "correctedMean", &MeanUncertainty::correctedMean, 4, false},
    {"U of the corrected mean (95 %)", "uncertaintyMs.expanded", &MeanUncertainty::expanded, 4, true},
    {"coverage factor k", "uncertaintyMs.k", &MeanUncertainty::k, 2, false},
    {"effective degrees of freedom", "uncertaintyMs.effectiveDof", &MeanUncertainty::dof, 1, false},
    {"standard uncertainty, combined", "uncertaintyMs.combined", &MeanUncertainty::combined, 4, true},
    {"\u2003statistical", "uncertaintyMs.components.statistical", &MeanUncertainty::statistical, 4, true},
    {"\u2003interpolation", "uncertaintyMs.components.interpolation", &MeanUncertainty::interpolation, 4, true},
    {"\u2003time base", "uncertaintyMs.components.timeBase", &MeanUncertainty::timeBase, 4, true},
    {"\u2003calibration", "uncertaintyMs.components.calibration", &MeanUncertainty::calibration, 4, true},
    {"largest U of one delay", "uncertaintyMs.perMeasurement.largestExpanded", &MeanUncertainty::largestExpanded, 4,
     true},
};

QString UncertaintySection(const RecordedRun &run)
{
    QString t = QStringLiteral("<section id=\"uncertainty\">\n<h2>Corrected delays and their uncertainty</h2>\n");
    if (!run.hasUncertainty)
        return t + QStringLiteral("<p class=\"note\">This record (schema version %1) has no fine or corrected delays "
                                  "and no uncertainties.</p>\n</section>\n")
                       .arg(run.schemaVersion);
    t += QStringLiteral("<table>\n<tr><th>(ms)</th>");
    for (const DelayPathInfo &p : DelayPaths)
        t += QStringLiteral("<th>%1</th>").arg(QLatin1String(p.label));
    t += QStringLiteral("</tr>\n");
    for (const UncertaintyRow &r : UncertaintyRows) {
        QString cells;
        for (const DelayPathInfo &p : DelayPaths) {
            const MeanUncertainty &u = run.uncertaintyOf(p.path);
            const double v = u.*r.value;
            const QString member = QStringLiteral("statistics.%1.%2").arg(QLatin1String(p.key), QLatin1String(r.member));
            // Infinitely many degrees of freedom are recorded as null.
            if (r.value == &MeanUncertainty::dof && !std::isfinite(v) && std::isfinite(u.expanded))
                cells += Td(member, QStringLiteral("\u221e"));
            else if (!u.measured)
                cells += Td(member, QStringLiteral("not measured"));
            else
                cells += Td(member, r.bound ? UncertaintyBound(v, r.decimals) : Fixed(v, r.decimals));
        }
        t += Row(QString::fromUtf8(r.name), cells);
    }
    t += QStringLiteral("</table>\n<p class=\"note\">Corrected: the delay between the edges found finer than a sample, "
                        "less the calibration's offset. U is the expanded uncertainty for about 95 % coverage (k "
                        "from Student's t for the effective degrees of freedom, at least 2); uncertainties are "
                        "rounded up. Source->HDMI has one only where the calibration gives the video analyzer's "
                        "reading an entry.</p>\n</section>\n");
    return t;
}

QString PlotsSection(const ReportInput &in)
{
    const RecordedRun &run = in.run;
    QString t = QStringLiteral("<section id=\"histograms\">\n<h2>Histograms</h2>\n<div class=\"plots\">\n");
    for (const DelayPathInfo &p : DelayPaths) {
        if (!run.measured(p.path)) {
            t += QStringLiteral("<figure><p class=\"note\">%1: not measured.</p></figure>\n").arg(QLatin1String(p.label));
            continue;
        }
        t += QStringLiteral("<figure>%1</figure>\n").arg(SvgPlotText(ReportHistogram(run, p)));
    }
    t += QStringLiteral("</div>\n</section>\n");
    t += QStringLiteral("<section id=\"trend\">\n<h2>Delays over the run</h2>\n<figure>%1</figure>\n</section>\n")
             .arg(SvgPlotText(ReportTrend(run)));
    t += QStringLiteral("<section id=\"traces\">\n<h2>Last traces</h2>\n");
    if (in.traces.index > 0)
        t += QStringLiteral("<figure>%1</figure>\n").arg(SvgPlotText(ReportTracesPlot(run, in.traces)));
    if (!in.traces.note.isEmpty())
        t += QStringLiteral("<p class=\"note\">%1</p>\n").arg(Esc(in.traces.note));
    return t + QStringLiteral("</section>\n");
}

QString LimitsSection(const ReportInput &in)
{
    QString t = QStringLiteral("<section id=\"limits\">\n<h2>Limits</h2>\n");
    if (!in.limitsJudged)
        return t + QStringLiteral("<p class=\"note\">No limits were judged: this report was made from the run's "
                                  "record after the run.</p>\n</section>\n");
    if (in.limits.isEmpty())
        return t + QStringLiteral("<p class=\"note\">No limits were given for this run.</p>\n</section>\n");
    t += QStringLiteral("<table>\n<tr><th>Limit</th><th>Figure</th><th>Value (ms)</th><th>U (ms)</th><th>Limit "
                        "(ms)</th><th>Verdict</th></tr>\n");
    for (const LimitVerdict &v : in.limits) {
        const char *word = v.outcome == LimitOutcome::Met        ? "met"
                           : v.outcome == LimitOutcome::Exceeded ? "exceeded"
                                                                 : "inconclusive";
        t += QStringLiteral("<tr><td>%1</td><td>%2</td><td class=\"n\">%3</td><td class=\"n\">%4</td>"
                            "<td class=\"n\">%5</td><td class=\"%6\" title=\"%7\">%6</td></tr>\n")
                 .arg(Esc(v.typed), Esc(v.figure + (v.guarded ? QStringLiteral(" (corrected)") : QString())),
                      Fixed(v.valueMs, 3), v.guarded ? UncertaintyBound(v.uncertaintyMs, 3) : QStringLiteral("-"),
                      Shortest(v.limitMs), QLatin1String(word), Esc(v.text));
    }
    return t + QStringLiteral("</table>\n<p class=\"note\">A figure without a value does not meet its limit. "
                              "Guarded limits judge the corrected figure with its uncertainty U: met when figure + U "
                              "is within the limit, exceeded when figure - U is beyond it, otherwise "
                              "inconclusive.</p>\n</section>\n");
}

} // namespace

QByteArray RunReportHtml(const ReportInput &in)
{
    const RecordedRun &run = in.run;
    const QString name = run.label.isEmpty() ? run.stamp : run.label;
    QString html = QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                                  "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                                  "<meta name=\"generator\" content=\"%1 %2\">\n<title>Run report%3</title>\n"
                                  "<style>%4</style>\n</head>\n<body>\n")
                       .arg(Esc(ToolName()), Esc(ToolVersion()),
                            name.isEmpty() ? QString() : QStringLiteral(": ") + Esc(name), QLatin1String(Style));
    html += Header(in);
    html += RunSection(in);
    html += SettingsSection(run);
    html += CalibrationSection(run);
    html += FiguresSection(run);
    html += UncertaintySection(run);
    html += PlotsSection(in);
    html += LimitsSection(in);
    html += QStringLiteral("<footer>Made by %1 %2 on %3%4.</footer>\n</body>\n</html>\n")
                .arg(Esc(ToolName()), Esc(ToolVersion()),
                     QDateTime::currentDateTime().toOffsetFromUtc(QDateTime::currentDateTime().offsetFromUtc())
                         .toString(Qt::ISODate),
                     in.source.isEmpty() ? QString() : QStringLiteral(" from ") + Esc(in.source));
    return html.toUtf8();
}

QString WriteRunReport(const QString &path, const ReportInput &input)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.write(RunReportHtml(input));
    return file.commit() ? QString() : file.errorString();
}
