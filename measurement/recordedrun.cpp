#include "measurement/recordedrun.h"

#include "measurement/measrun.h"
#include "shared/typednumber.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// A member by its dotted path ("statistics.src2Snk.mean"); undefined where
// any step is missing or no object.
QJsonValue At(const QJsonObject &o, const char *path)
{
    QJsonValue v = o;
    for (const QString &step : QString::fromLatin1(path).split(QLatin1Char('.'))) {
        if (!v.isObject())
            return QJsonValue(QJsonValue::Undefined);
        v = v.toObject().value(step);
    }
    return v;
}

double Number(const QJsonValue &v)
{
    return v.isDouble() && std::isfinite(v.toDouble()) ? v.toDouble() : NaN;
}

// A count or an index: a whole number from 0 to limit, else 0.
int Count(const QJsonValue &v, int limit)
{
    const double d = Number(v);
    return d >= 0 && d <= limit && d == std::floor(d) ? int(d) : 0;
}

QString Text(const QJsonValue &v)
{
    return v.isString() ? v.toString().left(MaxRecordedText) : QString();
}

bool Flag(const QJsonValue &v)
{
    return v.isBool() && v.toBool();
}

PathStats Stats(const QJsonObject &o)
{
    PathStats s;
    s.measured = !o.value(QStringLiteral("measured")).isBool() || o.value(QStringLiteral("measured")).toBool();
    s.n = Count(o.value(QStringLiteral("n")), MaxMeasCount);
    s.missing = Count(o.value(QStringLiteral("missing")), MaxMeasCount);
    s.mean = Number(o.value(QStringLiteral("mean")));
    s.sd = Number(o.value(QStringLiteral("sd")));
    s.min = Number(o.value(QStringLiteral("min")));
    s.max = Number(o.value(QStringLiteral("max")));
    s.median = Number(o.value(QStringLiteral("median")));
    s.p5 = Number(o.value(QStringLiteral("p5")));
    s.p95 = Number(o.value(QStringLiteral("p95")));
    const QJsonArray ci = o.value(QStringLiteral("ci95")).toArray();
    s.ciLow = Number(ci.at(0));
    s.ciHigh = Number(ci.at(1));
    return s;
}

MeanUncertainty Uncertainty(const QJsonObject &o, const PathStats &stats)
{
    MeanUncertainty u;
    u.measured = stats.measured;
    u.n = stats.n;
    u.fineMean = Number(o.value(QStringLiteral("fineMean")));
    u.correctedMean = Number(o.value(QStringLiteral("correctedMean")));
    u.expanded = Number(At(o, "uncertaintyMs.expanded"));
    u.k = Number(At(o, "uncertaintyMs.k"));
    u.dof = Number(At(o, "uncertaintyMs.effectiveDof"));
    u.combined = Number(At(o, "uncertaintyMs.combined"));
    u.statistical = Number(At(o, "uncertaintyMs.components.statistical"));
    u.interpolation = Number(At(o, "uncertaintyMs.components.interpolation"));
    u.timeBase = Number(At(o, "uncertaintyMs.components.timeBase"));
    u.calibration = Number(At(o, "uncertaintyMs.components.calibration"));
    u.typical.interpolation = Number(At(o, "uncertaintyMs.perMeasurement.components.interpolation"));
    u.typical.timingNoise = Number(At(o, "uncertaintyMs.perMeasurement.components.timingNoise"));
    u.typical.timeBase = Number(At(o, "uncertaintyMs.perMeasurement.components.timeBase"));
    u.typical.calibration = Number(At(o, "uncertaintyMs.perMeasurement.components.calibration"));
    u.largestExpanded = Number(At(o, "uncertaintyMs.perMeasurement.largestExpanded"));
    return u;
}

RecordedMeasurement MeasurementOf(const QJsonObject &o)
{
    RecordedMeasurement m;
    m.index = Count(o.value(QStringLiteral("index")), MaxMeasCount);
    m.time = Text(o.value(QStringLiteral("time")));
    m.retakenBefore = Count(o.value(QStringLiteral("retakenBefore")), MaxRejectedInARow);
    const QJsonObject missing = o.value(QStringLiteral("missing")).toObject();
    const QJsonObject corrected = o.value(QStringLiteral("correctedMs")).toObject();
    const QJsonObject uncertainty = o.value(QStringLiteral("uncertaintyMs")).toObject();
    for (const DelayPathInfo &p : DelayPaths) {
        const int i = int(p.path);
        m.delay[i] = Number(o.value(QLatin1String(p.valueKey)));
        m.missing[i] = Text(missing.value(QLatin1String(p.key)));
        m.corrected[i] = Number(corrected.value(QLatin1String(p.key)));
        m.uncertainty[i] = Number(uncertainty.value(QLatin1String(p.key)));
    }
    m.tsrc = Number(At(o, "edges.tsrcS"));
    m.trf = Number(At(o, "edges.trfS"));
    m.tsnk = Number(At(o, "edges.tsnkS"));
    const QJsonValue files = o.value(QStringLiteral("traceFiles"));
    if (files.isObject())
        m.traceFiles = QStringList{Text(At(o, "traceFiles.source")), Text(At(o, "traceFiles.rf")),
                                   Text(At(o, "traceFiles.sink"))};
    return m;
}

void ReadSettings(const QJsonObject &root, RecordedRun *run)
{
    const QJsonValue settings = root.value(QStringLiteral("settings"));
    run->hasSettings = settings.isObject();
    const QJsonObject s = settings.toObject();
    BenchSettings &b = run->settings;
    b.osIp = Text(At(s, "oscilloscope.resource"));
    run->oscType = Text(At(s, "oscilloscope.type"));
    b.osType = Count(At(s, "oscilloscope.typeIndex"), 1000);
    b.osReset = Flag(At(s, "oscilloscope.reset"));
    b.trgLevel = Number(At(s, "oscilloscope.triggerLevelV"));
    b.saIp = Text(At(s, "spectrumAnalyzer.resource"));
    b.saReset = Flag(At(s, "spectrumAnalyzer.reset"));
    b.centerFreq = Number(At(s, "spectrumAnalyzer.centerFrequencyHz"));
    b.ifDemod = Flag(At(s, "spectrumAnalyzer.ifDemod"));
    b.hdmi = Flag(At(s, "videoAnalyzer.hdmiDelay"));
    b.vaIp = Text(At(s, "videoAnalyzer.resource"));
    b.vaReset = Flag(At(s, "videoAnalyzer.reset"));
    b.threshold = Number(At(s, "videoAnalyzer.thresholdPercent"));
    b.saveData = Flag(s.value(QStringLiteral("saveData")));
}

} // namespace

RecordedMeasurement::RecordedMeasurement()
{
    for (int i = 0; i < 3; ++i)
        delay[i] = corrected[i] = uncertainty[i] = NaN;
    tsrc = trf = tsnk = NaN;
}

RecordedRun::RecordedRun()
{
    firstSampleTime = sampleInterval = NaN;
    for (PathStats &s : stats) {
        s.mean = s.sd = s.min = s.max = s.median = s.p5 = s.p95 = NaN;
        s.ciLow = s.ciHigh = NaN;
    }
}

QVector<double> RecordedRun::delays(DelayPath path) const
{
    QVector<double> out;
    out.reserve(measurements.size());
    for (const RecordedMeasurement &m : measurements)
        out.append(m.delay[int(path)]);
    return out;
}

bool ParseRecordedRun(const QByteArray &json, RecordedRun *run, QString *error)
{
    if (json.size() > MaxRecordedRunBytes) {
        *error = QStringLiteral("larger than a run record can be");
        return false;
    }
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        *error = QStringLiteral("not a run record: %1")
                     .arg(parse.error != QJsonParseError::NoError ? parse.errorString()
                                                                  : QStringLiteral("no JSON object"));
        return false;
    }
    const QJsonObject root = doc.object();
    const QJsonValue version = root.value(QStringLiteral("schemaVersion"));
    RecordedRun out;
    out.schemaVersion = Count(version, 1000);
    if (out.schemaVersion < 1 || out.schemaVersion > 2) {
        *error = QStringLiteral("schema version %1 is not one this tool reads")
                     .arg(version.isDouble() ? QString::number(version.toDouble(), 'g', 6) : QStringLiteral("missing"));
        return false;
    }
    const QJsonArray measurements = root.value(QStringLiteral("measurements")).toArray();
    if (measurements.size() > MaxMeasCount) {
        *error = QStringLiteral("more measurements than a run can have");
        return false;
    }
    // No acquisition is taken again more than MaxRejectedInARow times in a
    // row, before a measurement or at the end.
    const QJsonArray retakes = root.value(QStringLiteral("retakes")).toArray();
    if (retakes.size() > (measurements.size() + 1) * MaxRejectedInARow) {
        *error = QStringLiteral("more acquisitions taken again than a run of %1 measurements can take")
                     .arg(measurements.size());
        return false;
    }

    out.toolName = Text(At(root, "tool.name"));
    out.toolVersion = Text(At(root, "tool.version"));
    out.label = Text(root.value(QStringLiteral("label")));
    out.stamp = Text(root.value(QStringLiteral("stamp")));
    out.started = Text(root.value(QStringLiteral("started")));
    out.ended = Text(root.value(QStringLiteral("ended")));
    out.requested = Count(root.value(QStringLiteral("requested")), MaxMeasCount);
    out.kept = Count(root.value(QStringLiteral("kept")), MaxMeasCount);
    out.endState = Text(At(root, "end.state"));
    out.endReason = Text(At(root, "end.reason"));
    out.retakes.reserve(retakes.size());
    for (const QJsonValue &v : retakes) {
        const QJsonObject r = v.toObject();
        out.retakes.append(RecordedRetake{Count(r.value(QStringLiteral("forMeasurement")), MaxMeasCount),
                                          Text(r.value(QStringLiteral("reason"))),
                                          Text(r.value(QStringLiteral("detail")))});
    }
    ReadSettings(root, &out);
    out.saIdentity = Text(At(root, "instruments.spectrumAnalyzer.identity"));
    // A trace holds at most what one block read brings: 10 million samples.
    out.recordLength = Count(At(root, "traces.recordLength"), 10000000);
    out.firstSampleTime = Number(At(root, "traces.firstSampleTimeS"));
    out.sampleInterval = Number(At(root, "traces.sampleIntervalS"));
    out.resultsFile = Text(At(root, "files.results"));
    out.csvFile = Text(At(root, "files.csv"));

    out.measurements.reserve(measurements.size());
    for (const QJsonValue &v : measurements)
        out.measurements.append(MeasurementOf(v.toObject()));

    const QJsonObject statistics = root.value(QStringLiteral("statistics")).toObject();
    out.hasUncertainty = out.schemaVersion >= 2;
    for (const DelayPathInfo &p : DelayPaths) {
        const QJsonObject path = statistics.value(QLatin1String(p.key)).toObject();
        out.stats[int(p.path)] = Stats(path);
        out.uncertainty[int(p.path)] = Uncertainty(path, out.stats[int(p.path)]);
    }

    const QJsonValue calibration = root.value(QStringLiteral("calibration"));
    out.calibrationRecorded = root.contains(QStringLiteral("calibration"));
    if (calibration.isObject()) {
        QString why;
        if (!ParseCalibration(QJsonDocument(calibration.toObject()).toJson(QJsonDocument::Compact), &out.calibration,
                              &why)) {
            out.calibration = Calibration();
            out.calibrationProblem = why.left(MaxRecordedText);
        }
    } else if (!calibration.isNull() && out.calibrationRecorded) {
        out.calibrationProblem = QStringLiteral("calibration is no object");
    }
    *run = out;
    return true;
}

bool ReadRecordedRun(const QString &path, RecordedRun *run, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    // Checked before reading: the file may be anything.
    if (file.size() > MaxRecordedRunBytes) {
        *error = QStringLiteral("%1 is larger than a run record can be").arg(path);
        return false;
    }
    QString why;
    if (!ParseRecordedRun(file.read(MaxRecordedRunBytes + 1), run, &why)) {
        *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
    }
    return true;
}
