// A run record as --report --from reads it, through to the report and a
// JUnit file carrying its texts: whatever the record holds, the reader
// keeps within its bounds, the report's markup is only the report's own,
// and the JUnit file is well-formed XML.
#include "fuzz/fuzzcheck.h"
#include "measurement/junitxml.h"
#include "measurement/recordedrun.h"
#include "measurement/runreport.h"
#include "shared/typednumber.h"

#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    const QByteArray json(reinterpret_cast<const char *>(data), int(size));
    RecordedRun run;
    QString error;
    if (!ParseRecordedRun(json, &run, &error)) {
        FUZZ_CHECK(!error.isEmpty() && run.schemaVersion == 0);
        return 0;
    }
    FUZZ_CHECK(run.schemaVersion == 1 || run.schemaVersion == 2);
    FUZZ_CHECK(run.measurements.size() <= MaxMeasCount && run.requested <= MaxMeasCount && run.kept <= MaxMeasCount);
    for (const QString &text : {run.label, run.toolName, run.endReason, run.saIdentity, run.settings.osIp})
        FUZZ_CHECK(text.size() <= MaxRecordedText);
    for (const RecordedMeasurement &m : run.measurements)
        FUZZ_CHECK(m.traceFiles.isEmpty() || m.traceFiles.size() == 3);

    // Only the report's own elements: a '<' from the record is escaped.
    ReportInput input;
    input.run = run;
    input.traces.note = run.endReason;
    LimitVerdict verdict;
    verdict.typed = run.label;
    verdict.text = run.endReason;
    verdict.outcome = LimitOutcome::Inconclusive;
    input.limits.append(verdict);
    input.limitsJudged = true;
    const QString html = QString::fromUtf8(RunReportHtml(input));
    static const QSet<QString> tags{"!DOCTYPE", "html", "head", "meta", "title", "style", "body", "header", "footer",
                                    "section", "h1", "h2", "p", "table", "tr", "th", "td", "span", "div", "figure",
                                    "svg", "rect", "line", "polyline", "circle", "text", "g"};
    static const QRegularExpression tag(QStringLiteral("<(/?)([^\\s>/]*)"));
    for (auto it = tag.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        FUZZ_CHECK(tags.contains(m.captured(2)));
    }
    FUZZ_CHECK(!html.contains(QLatin1String("<script"), Qt::CaseInsensitive));

    JUnitRun suite;
    suite.suite = run.label;
    suite.started = run.started;
    suite.output = run.saIdentity;
    suite.properties.append({run.stamp, run.endState});
    suite.limits.append(verdict);
    QXmlStreamReader xml(JUnitXml(suite));
    while (!xml.atEnd())
        xml.readNext();
    FUZZ_CHECK(!xml.hasError());
    return 0;
}
