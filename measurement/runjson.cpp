#include "measurement/runjson.h"

#include "instruments/osctype.h"
#include "measurement/calibration.h"
#include "measurement/precisionjson.h"
#include "measurement/resultsfile.h"
#include "shared/typednumber.h"
#include "shared/version.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr qint64 MaxRecordBytes = 64 * 1024 * 1024;
constexpr char MeasurementsPlaceholder[] = "measurements-go-here";

// JSON has no NaN: a missing number is null.
QJsonValue Number(double v)
{
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null);
}

QJsonValue Text(const QString &s)
{
    return s.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(s);
}

// A number, or NaN for null and anything that is not a finite number.
double ReadNumber(const QJsonValue &v)
{
    return v.isDouble() && std::isfinite(v.toDouble()) ? v.toDouble() : NaN;
}

// Whole numbers as a file may give them: within int, no fraction.
bool IsInt(const QJsonValue &v)
{
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    return d >= std::numeric_limits<int>::min() && d <= std::numeric_limits<int>::max() && d == std::floor(d);
}

bool IsCount(const QJsonValue &v)
{
    return IsInt(v) && v.toInt() >= 0;
}

// A measurement's index: 1 .. the most a run can have.
bool IsIndex(const QJsonValue &v)
{
    return IsInt(v) && v.toInt() >= 1 && v.toInt() <= MaxMeasCount;
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

QDateTime ParseRunRecordTime(const QString &text)
{
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}

QString RunEndCode(RunEnd end)
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

bool RunEndFromCode(const QString &code, RunEnd *end)
{
    for (RunEnd e : {RunEnd::Completed, RunEnd::Canceled, RunEnd::Interrupted, RunEnd::Rejected,
                     RunEnd::ConnectionLost, RunEnd::SpoolFailed})
        if (code == RunEndCode(e)) {
            *end = e;
            return true;
        }
    return false;
}

QString RetakeCodeText(RetakeReason reason)
{
    return reason == RetakeReason::OutsideWindow ? QStringLiteral("outsideWindow") : QStringLiteral("noNewTrace");
}

QJsonObject RetakeJson(const Retake &r)
{
    return QJsonObject{{QStringLiteral("forMeasurement"), r.forMeasurement},
                       {QStringLiteral("reason"), RetakeCodeText(r.reason)},
                       {QStringLiteral("detail"), Text(r.detail)}};
}

bool RetakeFromJson(const QJsonObject &o, Retake *retake)
{
    const QJsonValue index = o.value(QStringLiteral("forMeasurement"));
    const QString reason = o.value(QStringLiteral("reason")).toString();
    const QJsonValue detail = o.value(QStringLiteral("detail"));
    if (!IsIndex(index) || (reason != RetakeCodeText(RetakeReason::OutsideWindow)
                            && reason != RetakeCodeText(RetakeReason::NoNewTrace))
        || !(detail.isString() || detail.isNull()))
        return false;
    retake->forMeasurement = index.toInt();
    retake->reason = reason == RetakeCodeText(RetakeReason::OutsideWindow) ? RetakeReason::OutsideWindow
                                                                            : RetakeReason::NoNewTrace;
    retake->detail = detail.toString();
    return true;
}

QByteArray MeasurementElement(const Measurement &m, const QStringList &traceFiles, const Calibration &calibration)
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
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QStringList TraceFileNames(const QString &filesAt, const Measurement &m)
{
    QStringList names;
    for (TraceKind kind : TraceKinds)
        names << ((m.traceFiles & TraceFileBit(kind))
                      ? QFileInfo(TraceFileName(filesAt, QString(), m.index, kind)).fileName()
                      : QString());
    return names;
}

bool MeasurementFromElement(const QJsonObject &o, Measurement *m, QStringList *traceFiles)
{
    Measurement out;
    const QJsonValue index = o.value(QStringLiteral("index"));
    const QJsonValue retaken = o.value(QStringLiteral("retakenBefore"));
    out.acquired = ParseRunRecordTime(o.value(QStringLiteral("time")).toString());
    if (!IsIndex(index) || !IsCount(retaken) || !out.acquired.isValid())
        return false;
    out.index = index.toInt();
    out.retakenBefore = retaken.toInt();

    const QJsonObject missing = o.value(QStringLiteral("missing")).toObject();
    for (const DelayPathInfo &p : DelayPaths) {
        const QJsonValue v = o.value(QLatin1String(p.valueKey));
        if (!v.isDouble() && !v.isNull())
            return false;
        DelayGap gap = DelayGap::None;
        const QString why = missing.value(QLatin1String(p.key)).toString();
        for (DelayGap g : {DelayGap::EdgeNotFound, DelayGap::TraceNotRead, DelayGap::NotMeasured, DelayGap::NoReading})
            if (why == DelayGapText(g))
                gap = g;
        // A value the record has no number for is missing for a reason,
        // even where the reason did not survive.
        if (gap == DelayGap::None && !v.isDouble())
            gap = p.path == DelayPath::Src2Hd ? DelayGap::NoReading : DelayGap::EdgeNotFound;
        // The run keeps 0 for an HDMI delay it did not measure: the results file lists it.
        const double value = gap == DelayGap::NotMeasured ? 0.0 : ReadNumber(v);
        ForPath(p.path, out.src2Rf, out.src2Hd, out.src2Snk) = value;
        ForPath(p.path, out.rfGap, out.hdGap, out.snkGap) = gap;
    }

    const QJsonObject edges = o.value(QStringLiteral("edges")).toObject();
    out.tsrc = ReadNumber(edges.value(QStringLiteral("tsrcS")));
    out.trf = ReadNumber(edges.value(QStringLiteral("trfS")));
    out.tsnk = ReadNumber(edges.value(QStringLiteral("tsnkS")));

    const QJsonObject va = o.value(QStringLiteral("videoAnalyzer")).toObject();
    const QJsonValue status = va.value(QStringLiteral("status"));
    const QJsonValue count = va.value(QStringLiteral("count"));
    const QJsonValue value = va.value(QStringLiteral("value"));
    out.hdmi.statusRead = IsInt(status);
    out.hdmi.status = out.hdmi.statusRead ? status.toInt() : 0;
    out.hdmi.countRead = IsInt(count);
    out.hdmi.count = out.hdmi.countRead ? count.toInt() : 0;
    out.hdmi.valueRead = value.isDouble();
    out.hdmi.value = out.hdmi.valueRead ? value.toDouble() : 0.0;

    traceFiles->clear();
    const QJsonValue files = o.value(QStringLiteral("traceFiles"));
    if (files.isObject()) {
        const QJsonObject f = files.toObject();
        for (const char *key : {"source", "rf", "sink"})
            *traceFiles << f.value(QLatin1String(key)).toString();
    }
    *m = out;
    return true;
}

QJsonObject RunHeadJson(const RunRecord &run, const QString &stamp)
{
    QJsonObject root;
    root[QStringLiteral("schemaVersion")] = RunRecordSchemaVersion;
    root[QStringLiteral("tool")] = QJsonObject{{QStringLiteral("name"), ToolName()},
                                               {QStringLiteral("version"), ToolVersion()}};
    root[QStringLiteral("label")] = Text(run.label);
    root[QStringLiteral("stamp")] = stamp;
    root[QStringLiteral("started")] = RunRecordTime(run.started);
    root[QStringLiteral("requested")] = run.requested;
    root[QStringLiteral("settings")] = Settings(run);
    QJsonObject instruments;
    instruments[QStringLiteral("spectrumAnalyzer")] = QJsonObject{{QStringLiteral("identity"), Text(run.saIdentity)}};
    root[QStringLiteral("instruments")] = instruments;
    root[QStringLiteral("calibration")] = CalibrationRecord(run.calibration);
    return root;
}

bool RunHeadFromJson(const QJsonObject &head, RunRecord *run)
{
    const QJsonObject settings = head.value(QStringLiteral("settings")).toObject();
    const QJsonObject osc = settings.value(QStringLiteral("oscilloscope")).toObject();
    const QJsonObject sa = settings.value(QStringLiteral("spectrumAnalyzer")).toObject();
    const QJsonObject va = settings.value(QStringLiteral("videoAnalyzer")).toObject();
    const QJsonValue requested = head.value(QStringLiteral("requested"));
    const QDateTime started = ParseRunRecordTime(head.value(QStringLiteral("started")).toString());
    if (!IsCount(requested) || requested.toInt() > MaxMeasCount || !started.isValid() || osc.isEmpty() || sa.isEmpty()
        || va.isEmpty() || !IsInt(osc.value(QStringLiteral("typeIndex"))))
        return false;
    run->label = head.value(QStringLiteral("label")).toString();
    run->started = started;
    run->requested = requested.toInt();
    BenchSettings &b = run->settings;
    b.osIp = osc.value(QStringLiteral("resource")).toString();
    b.osType = osc.value(QStringLiteral("typeIndex")).toInt();
    b.osReset = osc.value(QStringLiteral("reset")).toBool();
    b.trgLevel = ReadNumber(osc.value(QStringLiteral("triggerLevelV")));
    b.saIp = sa.value(QStringLiteral("resource")).toString();
    b.saReset = sa.value(QStringLiteral("reset")).toBool();
    b.centerFreq = ReadNumber(sa.value(QStringLiteral("centerFrequencyHz")));
    b.ifDemod = sa.value(QStringLiteral("ifDemod")).toBool();
    b.hdmi = va.value(QStringLiteral("hdmiDelay")).toBool();
    b.vaIp = va.value(QStringLiteral("resource")).toString();
    b.vaReset = va.value(QStringLiteral("reset")).toBool();
    b.threshold = ReadNumber(va.value(QStringLiteral("thresholdPercent")));
    b.saveData = settings.value(QStringLiteral("saveData")).toBool();
    run->saIdentity = head.value(QStringLiteral("instruments")).toObject().value(QStringLiteral("spectrumAnalyzer"))
                          .toObject().value(QStringLiteral("identity")).toString();
    // The calibration the run took off its corrected delays, as it was.
    const QJsonValue calibration = head.value(QStringLiteral("calibration"));
    run->calibration = Calibration();
    if (calibration.isObject()) {
        QString why;
        if (!ParseCalibration(QJsonDocument(calibration.toObject()).toJson(QJsonDocument::Compact), &run->calibration, &why))
            return false;
    }
    return true;
}

QByteArray RunRecordJson(const RunRecord &run, const RunStats &stats, const QString &stamp, const RunFileNames &files)
{
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    WriteRunRecordJson(&out, run, stats, stamp, files, [&run, &files](int i) {
        return MeasurementElement(run.measurements[i], i < files.traces.size() ? files.traces[i] : QStringList(),
                                  run.calibration);
    });
    return out.data();
}

bool WriteRunRecordJson(QIODevice *out, const RunRecord &run, const RunStats &stats, const QString &stamp,
                        const RunFileNames &files, const MeasurementElements &elements)
{
    QJsonObject root = RunHeadJson(run, stamp);
    root[QStringLiteral("ended")] = RunRecordTime(run.ended);
    root[QStringLiteral("kept")] = run.measurements.size();
    root[QStringLiteral("end")] = QJsonObject{{QStringLiteral("state"), RunEndCode(run.end)},
                                              {QStringLiteral("reason"), Text(EndReason(run))}};
    QJsonArray retakes;
    for (const Retake &r : run.retakes)
        retakes.append(RetakeJson(r));
    root[QStringLiteral("retakes")] = retakes;
    root[QStringLiteral("traces")] = QJsonObject{
        {QStringLiteral("recordLength"), run.recordLength},
        {QStringLiteral("firstSampleTimeS"), Number(run.firstSampleTime)},
        {QStringLiteral("sampleIntervalS"), Number(run.sampleInterval)},
        {QStringLiteral("format"), QStringLiteral("float64 little-endian, headerless, one sample per 8 bytes")}};
    root[QStringLiteral("files")] = QJsonObject{{QStringLiteral("results"), Text(files.results)},
                                                {QStringLiteral("csv"), Text(files.csv)}};
    if (run.recovered) {
        root[QStringLiteral("recovered")] =
            QJsonObject{{QStringLiteral("time"), RunRecordTime(run.recovery.at)},
                        {QStringLiteral("unreadableLines"), run.recovery.unreadableLines},
                        {QStringLiteral("traceFilesLost"), run.recovery.traceFilesLost}};
    } else {
        root[QStringLiteral("recovered")] = QJsonValue(QJsonValue::Null);
    }
    // The measurements go in as text, one element a line, where this
    // placeholder stands; no other member is named like it.
    root[QStringLiteral("measurements")] = QLatin1String(MeasurementsPlaceholder);
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

    const QByteArray text = QJsonDocument(root).toJson(QJsonDocument::Indented);
    const QByteArray slot = QByteArrayLiteral("\n    \"measurements\": \"") + MeasurementsPlaceholder + '"';
    const int at = text.indexOf(slot);
    bool ok = out->write(text.constData(), at) == at && out->write("\n    \"measurements\": [") >= 0;
    // Written in pieces of about a megabyte: few writes, little memory.
    QByteArray piece;
    for (int i = 0; ok && i < run.measurements.size(); ++i) {
        piece += i == 0 ? "\n        " : ",\n        ";
        piece += elements(i);
        if (piece.size() >= (1 << 20)) {
            ok = out->write(piece) == piece.size();
            piece.truncate(0);
        }
    }
    piece += "\n    ]";
    piece += text.mid(at + slot.size());
    return ok && out->write(piece) == piece.size();
}

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
