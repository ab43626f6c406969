#include "measurement/runjournal.h"

#include "instruments/readblock.h"
#include "measurement/measrun.h"
#include "measurement/resultsfile.h"
#include "measurement/runjson.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>

namespace {

constexpr int JournalVersion = 1;

// The element goes last, so that it starts at a place the writer knows and
// ends one byte before the line's closing brace.
constexpr char ElementKey[] = "\"measurement\":";

QByteArray Line(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

QJsonValue TimeOrNull(const QDateTime &t)
{
    return t.isValid() ? QJsonValue(RunRecordTime(t)) : QJsonValue(QJsonValue::Null);
}

bool IsWhole(const QJsonValue &v, double low, double high)
{
    return v.isDouble() && v.toDouble() >= low && v.toDouble() <= high && v.toDouble() == std::floor(v.toDouble());
}

// The sizes a measurement's line gives for its trace files.
std::array<qint64, 3> TraceBytes(const QJsonValue &v)
{
    std::array<qint64, 3> out{-1, -1, -1};
    const QJsonArray a = v.toArray();
    for (int i = 0; i < 3 && i < a.size(); ++i)
        if (IsWhole(a[i], 0, 8.0 * MaxBlockBytes))
            out[size_t(i)] = qint64(a[i].toDouble());
    return out;
}

} // namespace

QString RunJournalFileName(const QString &dataDir, const QString &stamp)
{
    return dataDir + stamp + QLatin1String(RunJournalSuffix);
}

bool IsRunStamp(const QString &stamp)
{
    static const QRegularExpression form(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d_(?:[A-Za-z0-9._-]{1,64}_)?$"));
    return form.match(stamp).hasMatch();
}

QByteArray JournalHeadLine(const RunRecord &run, const QString &stamp)
{
    return Line(QJsonObject{{QStringLiteral("journal"), JournalVersion}, {QStringLiteral("run"), RunHeadJson(run, stamp)}});
}

QByteArray JournalRetakeLine(const Retake &r)
{
    return Line(QJsonObject{{QStringLiteral("retake"), RetakeJson(r)}});
}

QByteArray JournalMeasurementLine(const QByteArray &element, const Measurement &m, int samples,
                                  const std::array<qint64, 3> *traceBytes, int *elementAt)
{
    QByteArray line = "{\"samples\":" + QByteArray::number(samples) + ",\"fine\":[";
    int n = 0;
    for (const FineEdge *e : {&m.fine.src, &m.fine.rf, &m.fine.snk})
        for (double v : {e->time, e->boundS, e->noiseS, e->noiseV})
            line += (n++ > 0 ? "," : "") + (std::isfinite(v) ? QByteArray::number(v, 'g', 17) : QByteArray("null"));
    line += ']';
    if (traceBytes) {
        line += ",\"traceBytes\":[";
        for (size_t i = 0; i < 3; ++i)
            line += (i > 0 ? "," : "") + QByteArray::number((*traceBytes)[i]);
        line += ']';
    }
    line += ',';
    line += ElementKey;
    *elementAt = line.size();
    line += element;
    line += "}\n";
    return line;
}

QByteArray JournalEndLine(const RunRecord &run)
{
    QJsonObject end{{QStringLiteral("state"), RunEndCode(run.end)},
                    {QStringLiteral("ended"), TimeOrNull(run.ended)},
                    {QStringLiteral("recordLength"), run.recordLength}};
    end[QStringLiteral("reason")] = run.endReason.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(run.endReason);
    return Line(QJsonObject{{QStringLiteral("end"), end}});
}

bool ReadRunJournal(QIODevice *in, const QString &journalName, RunJournal *out, QString *error)
{
    RunJournal j;
    bool head = false;
    int lastIndex = 0;
    int retakesForNext = 0;
    int lastSamples = 0;
    // The names the run gave its trace files: everything before "Journal.jsonl".
    const QString filesAt = journalName.endsWith(QLatin1String(RunJournalSuffix))
                                ? journalName.left(journalName.size() - int(qstrlen(RunJournalSuffix)))
                                : QString();

    for (;;) {
        QByteArray line = in->readLine(MaxJournalLine);
        if (line.isEmpty())
            break;
        if (!line.endsWith('\n')) {
            // Longer than any line of ours: the rest of it goes unread.
            if (!in->atEnd()) {
                QByteArray rest;
                do
                    rest = in->readLine(MaxJournalLine);
                while (!rest.isEmpty() && !rest.endsWith('\n'));
            }
            // Otherwise cut short by the end of the file: the line being
            // written when the program stopped.
            ++j.unreadableLines;
            continue;
        }
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        const QJsonObject o = doc.object();

        if (!head) {
            const QJsonObject run = o.value(QStringLiteral("run")).toObject();
            const QString stamp = run.value(QStringLiteral("stamp")).toString();
            if (o.value(QStringLiteral("journal")).toInt() != JournalVersion || !RunHeadFromJson(run, &j.run)) {
                *error = QStringLiteral("its first line does not describe a run");
                return false;
            }
            if (!IsRunStamp(stamp) || !filesAt.endsWith(stamp)) {
                *error = QStringLiteral("its stamp \"%1\" is not the one in its name").arg(stamp.left(80));
                return false;
            }
            j.stamp = stamp;
            head = true;
            continue;
        }
        if (j.ended) {
            ++j.unreadableLines; // nothing follows the end
            continue;
        }

        if (o.contains(QStringLiteral("retake"))) {
            Retake r;
            if (!RetakeFromJson(o.value(QStringLiteral("retake")).toObject(), &r) || r.forMeasurement <= lastIndex
                || r.forMeasurement > j.run.requested || retakesForNext >= MaxRejectedInARow) {
                ++j.unreadableLines;
                continue;
            }
            ++retakesForNext;
            j.run.retakes.append(r);
        } else if (o.contains(QStringLiteral("measurement"))) {
            Measurement m;
            QStringList names;
            const QJsonValue samples = o.value(QStringLiteral("samples"));
            if (!MeasurementFromElement(o.value(QStringLiteral("measurement")).toObject(), &m, &names)
                || m.index <= lastIndex || m.index > j.run.requested || !IsWhole(samples, 0, MaxBlockBytes / 4)) {
                ++j.unreadableLines;
                continue;
            }
            // Only the names this run gives its files count: a journal
            // never leads to any other file.
            for (int k = 0; k < names.size() && k < 3; ++k) {
                if (names[k].isEmpty())
                    continue;
                ++j.namedTraceFiles;
                if (names[k] == QFileInfo(TraceFileName(filesAt, QString(), m.index, TraceKinds[k])).fileName())
                    m.traceFiles |= TraceFileBit(TraceKinds[k]);
            }
            lastIndex = m.index;
            retakesForNext = 0;
            lastSamples = samples.toInt();
            const QJsonArray fine = o.value(QStringLiteral("fine")).toArray();
            int k = 0;
            for (FineEdge *e : {&m.fine.src, &m.fine.rf, &m.fine.snk})
                for (double *v : {&e->time, &e->boundS, &e->noiseS, &e->noiseV}) {
                    const QJsonValue x = fine.at(k++);
                    *v = x.isDouble() && std::isfinite(x.toDouble()) ? x.toDouble() : std::nan("");
                }
            j.run.measurements.append(m);
            j.traceBytes.append(TraceBytes(o.value(QStringLiteral("traceBytes"))));
            j.withTraces = j.withTraces || o.contains(QStringLiteral("traceBytes"));
        } else if (o.contains(QStringLiteral("end"))) {
            const QJsonObject end = o.value(QStringLiteral("end")).toObject();
            const QJsonValue reason = end.value(QStringLiteral("reason"));
            const QJsonValue length = end.value(QStringLiteral("recordLength"));
            RunEnd state;
            if (!RunEndFromCode(end.value(QStringLiteral("state")).toString(), &state)
                || !(reason.isString() || reason.isNull()) || !IsWhole(length, 0, MaxBlockBytes / 4)) {
                ++j.unreadableLines;
                continue;
            }
            j.ended = true;
            j.run.end = state;
            j.run.endReason = reason.toString();
            j.run.ended = ParseRunRecordTime(end.value(QStringLiteral("ended")).toString());
            j.run.recordLength = length.toInt();
        } else {
            ++j.unreadableLines;
        }
    }
    if (!head) {
        *error = QStringLiteral("it holds no whole line");
        return false;
    }
    if (!j.ended)
        j.run.recordLength = lastSamples;
    *out = j;
    return true;
}
