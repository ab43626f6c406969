#include "measurement/junitxml.h"

#include "measurement/markuptext.h"

#include <QDateTime>
#include <QSaveFile>
#include <QXmlStreamWriter>

#include <cmath>

namespace {

QString Seconds(double s)
{
    return QString::number(std::isfinite(s) && s > 0 ? s : 0.0, 'f', 3);
}

QString Ms(double v)
{
    return std::isfinite(v) ? QString::number(v, 'g', 10) + QStringLiteral(" ms") : QStringLiteral("none");
}

// The schema's timestamp: a local date and time without zone or fraction.
QString Timestamp(const QString &iso)
{
    const QDateTime t = QDateTime::fromString(iso, Qt::ISODateWithMs);
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) : QString();
}

// Everything written passes through here: the label and the texts may
// hold anything.
void Attribute(QXmlStreamWriter &xml, const char *name, const QString &value)
{
    xml.writeAttribute(QLatin1String(name), XmlAllowedText(value));
}

QString Details(const LimitVerdict &v)
{
    QString text = QStringLiteral("figure: %1%2\nvalue: %3\n")
                       .arg(v.figure, v.guarded ? QStringLiteral(" (corrected)") : QString(), Ms(v.valueMs));
    if (v.guarded)
        text += QStringLiteral("expanded uncertainty U (k = 2): %1\n").arg(Ms(v.uncertaintyMs));
    return text + QStringLiteral("limit: %1\n").arg(Ms(v.limitMs));
}

} // namespace

QByteArray JUnitXml(const JUnitRun &run)
{
    int failures = 0;
    for (const LimitVerdict &v : run.limits)
        failures += run.notJudged.isEmpty() && v.outcome != LimitOutcome::Met;
    const int errors = run.notJudged.isEmpty() ? 0 : run.limits.size();
    const QString tests = QString::number(run.limits.size());

    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    Attribute(xml, "name", run.suite);
    Attribute(xml, "tests", tests);
    Attribute(xml, "failures", QString::number(failures));
    Attribute(xml, "errors", QString::number(errors));
    Attribute(xml, "time", Seconds(run.seconds));

    xml.writeStartElement(QStringLiteral("testsuite"));
    Attribute(xml, "name", run.suite);
    Attribute(xml, "tests", tests);
    Attribute(xml, "failures", QString::number(failures));
    Attribute(xml, "errors", QString::number(errors));
    Attribute(xml, "skipped", QStringLiteral("0"));
    Attribute(xml, "time", Seconds(run.seconds));
    const QString timestamp = Timestamp(run.started);
    if (!timestamp.isEmpty())
        Attribute(xml, "timestamp", timestamp);
    if (!run.properties.isEmpty()) {
        xml.writeStartElement(QStringLiteral("properties"));
        for (const auto &p : run.properties) {
            xml.writeStartElement(QStringLiteral("property"));
            Attribute(xml, "name", p.first);
            Attribute(xml, "value", p.second);
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    for (const LimitVerdict &v : run.limits) {
        xml.writeStartElement(QStringLiteral("testcase"));
        Attribute(xml, "name", v.typed);
        Attribute(xml, "classname", run.suite);
        // Judging takes no time; the run's time is the suite's.
        Attribute(xml, "time", Seconds(0.0));
        if (!run.notJudged.isEmpty()) {
            xml.writeStartElement(QStringLiteral("error"));
            Attribute(xml, "type", QStringLiteral("notJudged"));
            Attribute(xml, "message", QStringLiteral("not judged: %1").arg(run.notJudged));
            xml.writeEndElement();
        } else if (v.outcome != LimitOutcome::Met) {
            xml.writeStartElement(QStringLiteral("failure"));
            Attribute(xml, "type", v.outcome == LimitOutcome::Exceeded ? QStringLiteral("exceeded")
                                                                       : QStringLiteral("inconclusive"));
            Attribute(xml, "message", v.text);
            xml.writeCharacters(XmlAllowedText(Details(v)));
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    if (!run.output.isEmpty())
        xml.writeTextElement(QStringLiteral("system-out"), XmlAllowedText(run.output));
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

QString WriteJUnitFile(const QString &path, const JUnitRun &run)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.write(JUnitXml(run));
    return file.commit() ? QString() : file.errorString();
}
