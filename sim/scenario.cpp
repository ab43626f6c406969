#include "sim/scenario.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace benchsim {

namespace {

struct KindName {
    Fault::Kind kind;
    const char *name;
};

const KindName Kinds[] = {
    {Fault::Kind::NoReply, "NoReply"},
    {Fault::Kind::Close, "Close"},
    {Fault::Kind::Late, "Late"},
    {Fault::Kind::Garbage, "Garbage"},
    {Fault::Kind::BlockDigit0, "BlockDigit0"},
    {Fault::Kind::BlockNonDigit, "BlockNonDigit"},
    {Fault::Kind::BlockShortLength, "BlockShortLength"},
    {Fault::Kind::BlockShortData, "BlockShortData"},
    {Fault::Kind::BlockHugeCount, "BlockHugeCount"},
    {Fault::Kind::DeviceIoTimeout, "DeviceIoTimeout"},
    {Fault::Kind::DeviceIoError, "DeviceIoError"},
};

bool isInstrument(const QString &name)
{
    return name == QLatin1String("osc") || name == QLatin1String("sa") || name == QLatin1String("va");
}

// Reads members of one JSON object, remembering the first error.
class Reader {
public:
    Reader(const QJsonObject &o, const QString &where) : o_(o), where_(where) {}

    template <typename Int>
    void integer(const char *key, Int *out, qint64 lo, qint64 hi)
    {
        const QJsonValue v = take(key);
        if (v.isUndefined())
            return;
        const double d = v.toDouble(std::nan(""));
        if (!v.isDouble() || d != std::floor(d) || d < lo || d > hi)
            fail(QStringLiteral("%1 must be an integer from %2 to %3").arg(QLatin1String(key)).arg(lo).arg(hi));
        else
            *out = Int(d);
    }
    void real(const char *key, double *out)
    {
        const QJsonValue v = take(key);
        if (v.isUndefined())
            return;
        if (!v.isDouble())
            fail(QStringLiteral("%1 must be a number").arg(QLatin1String(key)));
        else
            *out = v.toDouble();
    }
    void text(const char *key, QString *out)
    {
        const QJsonValue v = take(key);
        if (v.isUndefined())
            return;
        if (!v.isString())
            fail(QStringLiteral("%1 must be a string").arg(QLatin1String(key)));
        else
            *out = v.toString();
    }
    void bytes(const char *key, QByteArray *out)
    {
        QString s;
        bool had = o_.contains(QLatin1String(key));
        text(key, &s);
        if (had && error_.isEmpty())
            *out = s.toUtf8();
    }
    QJsonValue take(const char *key)
    {
        const QJsonValue v = o_.value(QLatin1String(key));
        o_.remove(QLatin1String(key));
        return v;
    }
    void fail(const QString &message)
    {
        if (error_.isEmpty())
            error_ = where_ + message;
    }
    // Call last: whatever was not taken is an unknown key.
    QString finish()
    {
        if (error_.isEmpty() && !o_.isEmpty())
            error_ = where_ + QStringLiteral("unknown key %1").arg(o_.keys().first());
        return error_;
    }

private:
    QJsonObject o_;
    QString where_;
    QString error_;
};

bool readFault(const QJsonValue &value, int i, Fault *fault, QString *error)
{
    const QString where = QStringLiteral("faults[%1]: ").arg(i);
    if (!value.isObject()) {
        *error = where + QStringLiteral("must be an object");
        return false;
    }
    Reader r(value.toObject(), where);
    QString kind, pattern;
    r.text("instrument", &fault->instrument);
    r.text("pattern", &pattern);
    r.text("kind", &kind);
    r.integer("occurrence", &fault->occurrence, 0, 1000000000);
    r.integer("delayMs", &fault->delayMs, 0, 3600000);
    fault->pattern = pattern.toUtf8();
    if (!isInstrument(fault->instrument))
        r.fail(QStringLiteral("instrument must be osc, sa or va"));
    if (!Fault::kindFromName(kind, &fault->kind))
        r.fail(QStringLiteral("unknown kind \"%1\"").arg(kind));
    *error = r.finish();
    return error->isEmpty();
}

} // namespace

bool Fault::kindFromName(const QString &name, Kind *kind)
{
    for (const KindName &k : Kinds) {
        if (name.compare(QLatin1String(k.name), Qt::CaseInsensitive) == 0) {
            *kind = k.kind;
            return true;
        }
    }
    return false;
}

QString Fault::kindName(Kind kind)
{
    for (const KindName &k : Kinds)
        if (k.kind == kind)
            return QLatin1String(k.name);
    return QString();
}

bool Fault::fromOption(const QString &text, Fault *fault, QString *error)
{
    const int first = text.indexOf(QLatin1Char(':'));
    const int second = text.indexOf(QLatin1Char(':'), first + 1);
    if (first < 0 || second < 0 || second + 1 >= text.size()) {
        *error = QStringLiteral("fault \"%1\": expected instrument:kind:pattern").arg(text);
        return false;
    }
    Fault f;
    f.instrument = text.left(first);
    f.pattern = text.mid(second + 1).toUtf8();
    QString kind = text.mid(first + 1, second - first - 1);
    bool ok = true;
    const int at = kind.indexOf(QLatin1Char('@'));
    if (at >= 0) {
        f.occurrence = kind.mid(at + 1).toInt(&ok);
        ok = ok && f.occurrence >= 0;
        kind.truncate(at);
    }
    const int eq = kind.indexOf(QLatin1Char('='));
    if (ok && eq >= 0) {
        f.delayMs = kind.mid(eq + 1).toInt(&ok);
        ok = ok && f.delayMs >= 0;
        kind.truncate(eq);
    }
    if (!ok || !isInstrument(f.instrument) || !kindFromName(kind, &f.kind)) {
        *error = QStringLiteral("fault \"%1\": bad instrument, kind or number").arg(text);
        return false;
    }
    *fault = f;
    return true;
}

bool Scenario::validate(QString *error) const
{
    QString e;
    if (oscType != QLatin1String("Orvix") && oscType != QLatin1String("Benlo"))
        e = QStringLiteral("oscType must be Orvix or Benlo");
    else if (benloPoints < 2 || benloPoints > 10000000)
        e = QStringLiteral("benloPoints must be from 2 to 10000000");
    else if (!std::isfinite(src2RfMs) || !std::isfinite(src2SnkMs) || std::fabs(src2RfMs) > 1000
             || std::fabs(src2SnkMs) > 1000)
        e = QStringLiteral("delays must be finite and within +-1000 ms");
    else if (!(jitterMs >= 0 && jitterMs <= 100))
        e = QStringLiteral("jitterMs must be from 0 to 100");
    // Noise is clipped at 3 sigma; beyond 5 mV it could fake a source edge (35 mV).
    else if (!(noiseV >= 0 && noiseV <= 0.005))
        e = QStringLiteral("noiseV must be from 0 to 0.005");
    // Longer ramps would reach past the record's ends from the default delays.
    else if (!(riseMs >= 0 && riseMs <= 100))
        e = QStringLiteral("riseMs must be from 0 to 100");
    else if (rejectFirst < 0)
        e = QStringLiteral("rejectFirst must not be negative");
    else if (std::any_of(frontPanelChannels.begin(), frontPanelChannels.end(), [](int c) { return c < 1 || c > 4; }))
        e = QStringLiteral("frontPanelChannels must be channel numbers from 1 to 4");
    else if (acquisitionMs < 0 || latencyMs < 0)
        e = QStringLiteral("acquisitionMs and latencyMs must not be negative");
    else if (!std::isfinite(vaValue))
        e = QStringLiteral("vaValue must be finite");
    for (const Fault &f : faults) {
        if (!e.isEmpty())
            break;
        if (!isInstrument(f.instrument))
            e = QStringLiteral("fault instrument must be osc, sa or va");
        else if (f.pattern.isEmpty())
            e = QStringLiteral("fault pattern must not be empty");
        else if (f.occurrence < 0 || f.delayMs < 0)
            e = QStringLiteral("fault occurrence and delayMs must not be negative");
        else if (f.delayMs > 3600000)
            e = QStringLiteral("fault delayMs must be at most 3600000");
    }
    if (error)
        *error = e;
    return e.isEmpty();
}

Scenario Scenario::fromJson(const QByteArray &json, QString *error)
{
    Scenario s;
    QString e;
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (doc.isNull()) {
        e = QStringLiteral("not JSON: %1 at offset %2").arg(parseError.errorString()).arg(parseError.offset);
    } else if (!doc.isObject()) {
        e = QStringLiteral("the scenario must be a JSON object");
    } else {
        Reader r(doc.object(), QString());
        r.text("oscType", &s.oscType);
        r.integer("benloPoints", &s.benloPoints, 2, 10000000);
        r.real("src2RfMs", &s.src2RfMs);
        r.real("src2SnkMs", &s.src2SnkMs);
        r.real("jitterMs", &s.jitterMs);
        r.real("noiseV", &s.noiseV);
        r.real("riseMs", &s.riseMs);
        r.integer("seed", &s.seed, 0, 4294967295LL);
        r.integer("rejectFirst", &s.rejectFirst, 0, 1000000);
        r.bytes("oscIdn", &s.oscIdn);
        r.bytes("saIdn", &s.saIdn);
        r.bytes("vaIdn", &s.vaIdn);
        r.integer("vaStat", &s.vaStat, -2147483647LL, 2147483647LL);
        r.integer("vaCount", &s.vaCount, -2147483647LL, 2147483647LL);
        r.real("vaValue", &s.vaValue);
        r.integer("acquisitionMs", &s.acquisitionMs, 0, 3600000);
        r.integer("latencyMs", &s.latencyMs, 0, 3600000);
        r.integer("oscPort", &s.oscPort, 0, 65535);
        r.integer("saPort", &s.saPort, 0, 65535);
        r.integer("vaPort", &s.vaPort, 0, 65535);
        const QJsonValue channels = r.take("frontPanelChannels");
        const QJsonValue faults = r.take("faults");
        e = r.finish();
        if (e.isEmpty() && !channels.isUndefined()) {
            if (!channels.isArray())
                e = QStringLiteral("frontPanelChannels must be an array");
            for (const QJsonValue &c : channels.toArray()) {
                const double d = c.toDouble(std::nan(""));
                if (d != std::floor(d) || d < 1 || d > 4) {
                    e = QStringLiteral("frontPanelChannels must be channel numbers from 1 to 4");
                    break;
                }
                s.frontPanelChannels.append(int(d));
            }
        }
        if (e.isEmpty() && !faults.isUndefined()) {
            if (!faults.isArray())
                e = QStringLiteral("faults must be an array");
            const QJsonArray list = faults.toArray();
            for (int i = 0; e.isEmpty() && i < list.size(); ++i) {
                Fault f;
                if (readFault(list.at(i), i, &f, &e))
                    s.faults.append(f);
            }
        }
        if (e.isEmpty())
            s.validate(&e);
    }
    if (error)
        *error = e;
    return e.isEmpty() ? s : Scenario();
}

} // namespace benchsim
