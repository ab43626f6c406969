#include "measurement/resultsfile.h"

#include <QHash>

#include <cmath>
#include <cstring>

namespace {

// QString::number gives "nan" for NaN on every platform; the check keeps the
// file's spelling independent of that.
QByteArray Number(double v)
{
    if (std::isnan(v))
        return QByteArrayLiteral("nan");
    return QString::number(v, 'g', 6).toLatin1();
}

// Delays are differences of sample times, so a long run repeats a few
// thousand values: each is formatted once (formatting is most of the time
// a run of 100 000 takes to write). Bounded, whatever the values.
class NumberTexts
{
public:
    const QByteArray &of(double v)
    {
        quint64 bits;
        std::memcpy(&bits, &v, sizeof bits);
        auto it = texts_.constFind(bits);
        if (it != texts_.constEnd())
            return *it;
        if (texts_.size() >= MaxTexts)
            texts_.clear();
        return *texts_.insert(bits, Number(v));
    }

private:
    static constexpr int MaxTexts = 1 << 16;
    QHash<quint64, QByteArray> texts_;
};

void AppendBlock(QByteArray &out, const char *delayHead, const QVector<double> &values,
                 const char *meanHead, double mean)
{
    NumberTexts texts;
    out += delayHead;
    for (double v : values) {
        out += ' ';
        out += texts.of(v);
    }
    out += meanHead;
    out += Number(mean);
}

} // namespace

QByteArray ResultsText(const QVector<double> &src2Rf, double avgSrc2Rf,
                       const QVector<double> &src2Hd, double avgSrc2Hd,
                       const QVector<double> &src2Snk, double avgSrc2Snk)
{
    QByteArray out;
    out.reserve(64 + 10 * (src2Rf.size() + src2Hd.size() + src2Snk.size()));
    AppendBlock(out, "Source2RF Delay:", src2Rf, "\nSource2RF Mean: ", avgSrc2Rf);
    out += '\n';
    AppendBlock(out, "Source2HD Delay:", src2Hd, "\nSource2HD Mean: ", avgSrc2Hd);
    out += '\n';
    AppendBlock(out, "Source2Snk Delay:", src2Snk, "\nSource2Snk Mean: ", avgSrc2Snk);
    return out;
}

QString RunStamp(const QDateTime &when)
{
    return when.toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss_"));
}

QString ResultsFileName(const QString &dataDir, const QString &stamp)
{
    return dataDir + stamp + QStringLiteral("Results.txt");
}

QString RunRecordFileName(const QString &dataDir, const QString &stamp)
{
    return dataDir + stamp + QStringLiteral("Run.json");
}

QString DelaysCsvFileName(const QString &dataDir, const QString &stamp)
{
    return dataDir + stamp + QStringLiteral("Delays.csv");
}

QString TraceFileName(const QString &dataDir, const QString &stamp, int k, TraceKind kind)
{
    const char *suffix = kind == TraceKind::Source ? "_src" : kind == TraceKind::Rf ? "_rf" : "_snk";
    return dataDir + stamp + QStringLiteral("%1").arg(k, 3, 10, QLatin1Char('0'))
           + QLatin1String(suffix) + QStringLiteral(".bin");
}
