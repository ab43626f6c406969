#include "measurement/runjson.h"

#include "instruments/osctype.h"
#include "measurement/precisionjson.h"
#include "shared/typednumber.h"
#include "shared/version.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr qint64 MaxRecordBytes = 64 * 1024 * 1024;

// JSON has no NaN: a missing number is null.
QJsonValue Number(double v)
{
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null);
}

QJsonValue Text(const QString &s)
{
    return s.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(s);
}

QString EndState(RunEnd end)
{
    switch (end) {
    case RunEnd::Completed:
        return QStringLiteral("completed");
    case RunEnd::Canceled:
        return QStringLiteral("canceled");
    case RunEnd::Interrupted:
        return QStringLiteral("interrupted");
    case RunEnd::Rejected:
        return QStringLiteral("rejected");
    case RunEnd::ConnectionLost:
        return QStringLiteral("connectionLost");
    case RunEnd::SpoolFailed:
        return QStringLiteral("spoolFailed");
    }
    return QString();
}

QString RetakeCode(RetakeReason reason)
{
    return reason == RetakeReason::OutsideWindow ? QStringLiteral("outsideWindow") : QStringLiteral("noNewTrace");
}

QJsonObject Stats(const PathStats &s)
{
    QJsonObject o;
    o[QStringLiteral("measured")] = s.measured;
    o[QStringLiteral("n")] = s.n;
    o[QStringLiteral("missing")] = s.missing;
    o[QStringLiteral("mean")] = Number(s.mean);
    o[QStringLiteral("sd")] = Number(s.sd);
    o[QStringLiteral("min")] = Number(s.min);
    o[QStringLiteral("max")] = Number(s.max);
    o[QStringLiteral("median")] = Number(s.median);
    o[QStringLiteral("p5")] = Number(s.p5);
    o[QStringLiteral("p95")] = Number(s.p95);
    o[QStringLiteral("ci95")] = QJsonArray{Number(s.ciLow), Number(s.ciHigh)};
    return o;
}

QJsonObject Settings(const RunRecord &run)
{
    const BenchSettings &b = run.settings;
    QJsonObject osc;
    osc[QStringLiteral("resource")] = b.osIp;
    osc[QStringLiteral("type")] = QString::fromLatin1(OscTypeOf(b.osType).name);
    osc[QStringLiteral("typeIndex")] = b.osType;
    osc[QStringLiteral("reset")] = b.osReset;
    osc[QStringLiteral("triggerLevelV")] = Number(b.trgLevel);
    QJsonObject sa;
    sa[QStringLiteral("resource")] = b.saIp;
    sa[QStringLiteral("reset")] = b.saReset;
    sa[QStringLiteral("centerFrequencyHz")] = Number(b.centerFreq);
    sa[QStringLiteral("ifDemod")] = b.ifDemod;
    QJsonObject va;
    va[QStringLiteral("hdmiDelay")] = b.hdmi;
    va[QStringLiteral("resource")] = b.hdmi ? QJsonValue(b.vaIp) : QJsonValue(QJsonValue::Null);
    va[QStringLiteral("reset")] = b.vaReset;
    va[QStringLiteral("thresholdPercent")] = Number(b.threshold);
    QJsonObject o;
    o[QStringLiteral("oscilloscope")] = osc;
    o[QStringLiteral("spectrumAnalyzer")] = sa;
    o[QStringLiteral("videoAnalyzer")] = va;
    o[QStringLiteral("saveData")] = b.saveData;
    return o;
}

QJsonObject MeasurementJson(const Measurement &m, const QStringList &traceFiles, const Calibration &calibration)
{
    QJsonObject o;
    o[QStringLiteral("index")] = m.index;
    o[QStringLiteral("time")] = RunRecordTime(m.acquired);
    o[QStringLiteral("retakenBefore")] = m.retakenBefore;
    QJsonObject missing;
    for (const DelayPathInfo &p : DelayPaths) {
        // The HDMI placeholder 0 of a run without the option is no value.
        const bool has = p.path != DelayPath::Src2Hd || m.hdGap == DelayGap::None;
        o[QLatin1String(p.valueKey)] = has ? Number(m.delay(p.path)) : QJsonValue(QJsonValue::Null);
        if (m.gap(p.path) != DelayGap::None)
            missing[QLatin1String(p.key)] = DelayGapText(m.gap(p.path));
    }
    o[QStringLiteral("missing")] = missing;
    QJsonObject edges;
    edges[QStringLiteral("tsrcS")] = Number(m.tsrc);
    edges[QStringLiteral("trfS")] = Number(m.trf);
    edges[QStringLiteral("tsnkS")] = Number(m.tsnk);
    o[QStringLiteral("edges")] = edges;
    AddMeasurementPrecision(o, m, calibration);
    if (m.hdGap == DelayGap::NotMeasured) {
        o[QStringLiteral("videoAnalyzer")] = QJsonValue(QJsonValue::Null);
    } else {
        QJsonObject va;
        va[QStringLiteral("status")] = m.hdmi.statusRead ? QJsonValue(m.hdmi.status) : QJsonValue(QJsonValue::Null);
        va[QStringLiteral("count")] = m.hdmi.countRead ? QJsonValue(m.hdmi.count) : QJsonValue(QJsonValue::Null);
        va[QStringLiteral("value")] = m.hdmi.valueRead ? Number(m.hdmi.value) : QJsonValue(QJsonValue::Null);
        o[QStringLiteral("videoAnalyzer")] = va;
    }
    if (traceFiles.size() == 3) {
        QJsonObject files;
        files[QStringLiteral("source")] = Text(traceFiles[0]);
        files[QStringLiteral("rf")] = Text(traceFiles[1]);
        files[QStringLiteral("sink")] = Text(traceFiles[2]);
        o[QStringLiteral("traceFiles")] = files;
    } else {
        o[QStringLiteral("traceFiles")] = QJsonValue(QJsonValue::Null);
    }
    return o;
}

// Why a run was cut short, also where the run had no words for it.
QString EndReason(const RunRecord &run)
{
    if (!run.endReason.isEmpty())
        return run.endReason;
    switch (run.end) {
    case RunEnd::Canceled:
        return QStringLiteral("canceled by the operator");
    case RunEnd::Interrupted:
        return QStringLiteral("interrupted by a signal");
    default:
        return QString();
    }
}

} // namespace

QString RunRecordTime(const QDateTime &t)
{
    return t.isValid() ? t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs) : QString();
}

QByteArray RunRecordJson(const RunRecord &run, const RunStats &stats, const QString &stamp, const RunFileNames &files)
{
    QJsonObject root;
    root[QStringLiteral("schemaVersion")] = RunRecordSchemaVersion;
    root[QStringLiteral("tool")] = QJsonObject{{QStringLiteral("name"), ToolName()},
                                               {QStringLiteral("version"), ToolVersion()}};
    root[QStringLiteral("label")] = Text(run.label);
    root[QStringLiteral("stamp")] = stamp;
    root[QStringLiteral("started")] = RunRecordTime(run.started);
    root[QStringLiteral("ended")] = RunRecordTime(run.ended);
    root[QStringLiteral("requested")] = run.requested;
    root[QStringLiteral("kept")] = run.measurements.size();
    root[QStringLiteral("end")] = QJsonObject{{QStringLiteral("state"), EndState(run.end)},
                                              {QStringLiteral("reason"), Text(EndReason(run))}};
    QJsonArray retakes;
    for (const Retake &r : run.retakes)
        retakes.append(QJsonObject{{QStringLiteral("forMeasurement"), r.forMeasurement},
                                   {QStringLiteral("reason"), RetakeCode(r.reason)},
                                   {QStringLiteral("detail"), Text(r.detail)}});
    root[QStringLiteral("retakes")] = retakes;
    root[QStringLiteral("settings")] = Settings(run);
    QJsonObject instruments;
    instruments[QStringLiteral("spectrumAnalyzer")] = QJsonObject{{QStringLiteral("identity"), Text(run.saIdentity)}};
    root[QStringLiteral("instruments")] = instruments;
    root[QStringLiteral("traces")] = QJsonObject{
        {QStringLiteral("recordLength"), run.recordLength},
        {QStringLiteral("firstSampleTimeS"), Number(run.firstSampleTime)},
        {QStringLiteral("sampleIntervalS"), Number(run.sampleInterval)},
        {QStringLiteral("format"), QStringLiteral("float64 little-endian, headerless, one sample per 8 bytes")}};
    root[QStringLiteral("files")] = QJsonObject{{QStringLiteral("results"), Text(files.results)},
                                                {QStringLiteral("csv"), Text(files.csv)}};
    QJsonArray measurements;
    for (int i = 0; i < run.measurements.size(); ++i)
        measurements.append(MeasurementJson(run.measurements[i],
                                            i < files.traces.size() ? files.traces[i] : QStringList(), run.calibration));
    root[QStringLiteral("measurements")] = measurements;
    QJsonObject statistics{
        {QStringLiteral("percentileRule"),
         QStringLiteral("linear interpolation between the closest ranks: value at index p/100*(n-1) of the sorted values")}};
    const RunUncertainty uncertainty = ComputeRunUncertainty(run);
    for (const DelayPathInfo &p : DelayPaths) {
        QJsonObject path = Stats(stats.of(p.path));
        AddPathPrecision(path, uncertainty.of(p.path));
        statistics[QLatin1String(p.key)] = path;
    }
    root[QStringLiteral("statistics")] = statistics;
    root[QStringLiteral("calibration")] = CalibrationRecord(run.calibration);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

namespace {

// A number, or NaN for null and anything that is not a finite number.
double ReadNumber(const QJsonValue &v)
{
    return v.isDouble() && std::isfinite(v.toDouble()) ? v.toDouble() : NaN;
}

} // namespace

QVector<double> &StoredRun::values(DelayPath path)
{
    return ForPath(path, src2Rf, src2Hd, src2Snk);
}

const QVector<double> &StoredRun::values(DelayPath path) const
{
    return ForPath(path, src2Rf, src2Hd, src2Snk);
}

bool ReadRunRecord(const QString &path, StoredRun *run, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    if (file.size() > MaxRecordBytes) {
        *error = QStringLiteral("%1 is larger than a run record can be").arg(path);
        return false;
    }
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(file.read(MaxRecordBytes), &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        *error = QStringLiteral("%1 is not a run record: %2").arg(path, parse.errorString());
        return false;
    }
    const QJsonObject root = doc.object();
    const int version = root.value(QStringLiteral("schemaVersion")).toInt(0);
    if (version < 1 || version > RunRecordSchemaVersion) {
        *error = QStringLiteral("%1: schema version %2 is not one this tool reads").arg(path).arg(version);
        return false;
    }
    const QJsonArray measurements = root.value(QStringLiteral("measurements")).toArray();
    if (measurements.size() > MaxMeasCount) {
        *error = QStringLiteral("%1 holds more measurements than a run can have").arg(path);
        return false;
    }
    StoredRun out;
    out.schemaVersion = version;
    out.label = root.value(QStringLiteral("label")).toString();
    out.started = root.value(QStringLiteral("started")).toString();
    out.hdMeasured = root.value(QStringLiteral("settings")).toObject().value(QStringLiteral("videoAnalyzer")).toObject()
                         .value(QStringLiteral("hdmiDelay")).toBool();
    for (const QJsonValue &v : measurements) {
        const QJsonObject m = v.toObject();
        for (const DelayPathInfo &p : DelayPaths)
            if (out.measured(p.path))
                out.values(p.path).append(ReadNumber(m.value(QLatin1String(p.valueKey))));
    }
    *run = out;
    return true;
}
