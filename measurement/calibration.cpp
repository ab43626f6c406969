#include "measurement/calibration.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cmath>

namespace {

// Takes the members of one object one by one, remembering the first
// problem; whatever is left at the end is a member this version does not know.
class Members
{
public:
    Members(const QJsonObject &o, const QString &where) : o_(o), where_(where) {}

    QJsonValue take(const char *key)
    {
        const QJsonValue v = o_.value(QLatin1String(key));
        o_.remove(QLatin1String(key));
        return v;
    }
    void number(const char *key, double *out, double lo, double hi, bool required)
    {
        const QJsonValue v = take(key);
        if (v.isUndefined()) {
            if (required)
                fail(QStringLiteral("%1 is missing").arg(name(key)));
            return;
        }
        const double d = v.toDouble();
        if (!v.isDouble() || !std::isfinite(d) || d < lo || d > hi)
            fail(QStringLiteral("%1 must be a number from %2 to %3").arg(name(key)).arg(lo).arg(hi));
        else
            *out = d;
    }
    void text(const char *key, QString *out, int maxLength)
    {
        const QJsonValue v = take(key);
        if (v.isUndefined())
            return;
        if (!v.isString())
            fail(QStringLiteral("%1 must be a text").arg(name(key)));
        else if (v.toString().size() > maxLength)
            fail(QStringLiteral("%1 is longer than %2 characters").arg(name(key)).arg(maxLength));
        else
            *out = v.toString();
    }
    void fail(const QString &message)
    {
        if (error_.isEmpty())
            error_ = message;
    }
    QString name(const char *key) const { return where_ + QLatin1String(key); }
    // Call last.
    QString finish()
    {
        if (error_.isEmpty() && !o_.isEmpty())
            error_ = QStringLiteral("unknown member %1").arg(where_ + o_.keys().first());
        return error_;
    }

private:
    QJsonObject o_;
    QString where_;
    QString error_;
};

bool ValidDate(const QString &text)
{
    return QDate::fromString(text, Qt::ISODate).isValid() || QDateTime::fromString(text, Qt::ISODate).isValid();
}

QString ReadPath(const QJsonValue &value, const QString &where, PathCalibration *path)
{
    if (!value.isObject())
        return QStringLiteral("%1 must be an object").arg(where);
    Members m(value.toObject(), where + QLatin1Char('.'));
    m.number("offsetMs", &path->offsetMs, -MaxCalibrationOffsetMs, MaxCalibrationOffsetMs, true);
    m.number("uncertaintyMs", &path->uncertaintyMs, 0.0, MaxCalibrationUncertaintyMs, true);
    m.text("note", &path->note, MaxCalibrationText);
    path->set = true;
    return m.finish();
}

} // namespace

QString Calibration::title() const
{
    if (!loaded)
        return QStringLiteral("No calibration");
    QStringList parts;
    if (!name.isEmpty())
        parts << name;
    if (!date.isEmpty())
        parts << date;
    return parts.isEmpty() ? QStringLiteral("Calibration") : parts.join(QStringLiteral(", "));
}

bool ParseCalibration(const QByteArray &json, Calibration *calibration, QString *error)
{
    if (json.size() > MaxCalibrationBytes) {
        *error = QStringLiteral("larger than the %1 bytes a calibration can have").arg(MaxCalibrationBytes);
        return false;
    }
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parse);
    if (parse.error != QJsonParseError::NoError) {
        *error = QStringLiteral("not JSON: %1 at offset %2").arg(parse.errorString()).arg(parse.offset);
        return false;
    }
    if (!doc.isObject()) {
        *error = QStringLiteral("a calibration is a JSON object");
        return false;
    }
    Calibration out;
    out.loaded = true;
    Members m(doc.object(), QString());
    double version = 0;
    m.number("schemaVersion", &version, 0, 1e9, true);
    if (version != CalibrationSchemaVersion)
        m.fail(QStringLiteral("schemaVersion must be %1").arg(CalibrationSchemaVersion));
    m.text("name", &out.name, MaxCalibrationName);
    m.text("date", &out.date, MaxCalibrationName);
    if (!out.date.isEmpty() && !ValidDate(out.date))
        m.fail(QStringLiteral("date must be an ISO 8601 date, as 2026-03-01"));
    m.text("measuredWith", &out.measuredWith, MaxCalibrationText);
    m.number("timeBasePpm", &out.timeBasePpm, 0.0, MaxTimeBasePpm, false);
    const QJsonValue paths = m.take("paths");
    QString e = m.finish();
    if (e.isEmpty() && !paths.isUndefined()) {
        if (!paths.isObject()) {
            e = QStringLiteral("paths must be an object");
        } else {
            QJsonObject rest = paths.toObject();
            for (const DelayPathInfo &p : DelayPaths) {
                const QString key = QLatin1String(p.key);
                if (e.isEmpty() && rest.contains(key))
                    e = ReadPath(rest.value(key), QStringLiteral("paths.") + key, &out.of(p.path));
                rest.remove(key);
            }
            if (e.isEmpty() && !rest.isEmpty())
                e = QStringLiteral("unknown path paths.%1 (src2Rf, src2Hd or src2Snk)").arg(rest.keys().first());
        }
    }
    if (!e.isEmpty()) {
        *error = e;
        return false;
    }
    *calibration = out;
    return true;
}

bool ReadCalibrationFile(const QString &path, Calibration *calibration, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    // One byte more than allowed tells a file that is too large.
    const QByteArray bytes = file.read(MaxCalibrationBytes + 1);
    QString why;
    if (!ParseCalibration(bytes, calibration, &why)) {
        *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
    }
    return true;
}

QJsonObject CalibrationObject(const Calibration &c)
{
    if (!c.loaded)
        return QJsonObject();
    QJsonObject o;
    o[QStringLiteral("schemaVersion")] = CalibrationSchemaVersion;
    o[QStringLiteral("name")] = c.name;
    o[QStringLiteral("date")] = c.date;
    o[QStringLiteral("measuredWith")] = c.measuredWith;
    o[QStringLiteral("timeBasePpm")] = c.timeBasePpm;
    QJsonObject paths;
    for (const DelayPathInfo &p : DelayPaths) {
        const PathCalibration &pc = c.of(p.path);
        if (!pc.set)
            continue;
        QJsonObject one{{QStringLiteral("offsetMs"), pc.offsetMs}, {QStringLiteral("uncertaintyMs"), pc.uncertaintyMs}};
        if (!pc.note.isEmpty())
            one[QStringLiteral("note")] = pc.note;
        paths[QLatin1String(p.key)] = one;
    }
    o[QStringLiteral("paths")] = paths;
    return o;
}

QByteArray CalibrationJson(const Calibration &c)
{
    return c.loaded ? QJsonDocument(CalibrationObject(c)).toJson(QJsonDocument::Indented) : QByteArray();
}

QString WriteCalibrationFile(const QString &path, const Calibration &calibration)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.write(CalibrationJson(calibration));
    return file.commit() ? QString() : file.errorString();
}
