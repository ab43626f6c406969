#include "app/progresslines.h"

#include <QStringList>

#include <cmath>

namespace {

QString Delay(const Measurement &m, DelayPath path, const QString &unit)
{
    const QString name = QLatin1String(PathInfo(path).label);
    const double v = m.delay(path);
    if (std::isfinite(v))
        return QStringLiteral("%1 %2%3").arg(name, QString::number(v, 'f', 3), unit);
    return QStringLiteral("%1 nan (%2)").arg(name, DelayGapText(m.gap(path)));
}

QString Tail(const RunProgress &p, bool withRetakes)
{
    QString text = RunningMeansText(p);
    if (withRetakes && p.retaken > 0)
        text += QStringLiteral(" | %1 taken again").arg(p.retaken);
    const QString left = p.kept < p.count ? TimeLeftText(p) : QString();
    if (!left.isEmpty())
        text += QStringLiteral(" | ") + left;
    return text;
}

} // namespace

QString MeasurementLine(const Measurement &m, const RunProgress &p)
{
    QStringList delays;
    for (const DelayPathInfo &p : DelayPaths) {
        if (m.gap(p.path) == DelayGap::NotMeasured)
            continue;
        // The video analyzer's reading as it gave it.
        delays << Delay(m, p.path, p.path == DelayPath::Src2Hd ? QString() : QLatin1Char(' ') + QLatin1String(p.unit));
    }
    return QStringLiteral("%1/%2 %3 | means %4")
        .arg(m.index)
        .arg(p.count)
        .arg(delays.join(QStringLiteral(", ")), Tail(p, false));
}

QString RetakeLine(const Retake &r, int count)
{
    QString text = QStringLiteral("again for %1/%2: %3").arg(r.forMeasurement).arg(count).arg(RetakeReasonText(r.reason));
    if (!r.detail.isEmpty())
        text += QStringLiteral(" (%1)").arg(r.detail);
    return text;
}

QString ProgressBar(const RunProgress &p, int width)
{
    const int done = p.count > 0 ? int(qint64(width) * p.kept / p.count) : 0;
    return QStringLiteral("[%1%2] %3/%4 %5")
        .arg(QString(done, QLatin1Char('#')), QString(width - done, QLatin1Char('-')))
        .arg(p.index)
        .arg(p.count)
        .arg(Tail(p, true));
}

ProgressLines::ProgressLines(std::FILE *out, bool terminal, int count) : out_(out), terminal_(terminal), count_(count)
{
    clock_.start();
}

void ProgressLines::acquiring(int index, const RunRecord &sofar)
{
    if (terminal_) {
        // Back to the line's start, the bar, and clear what a longer bar left.
        tally_.catchUp(sofar);
        write(QLatin1Char('\r') + ProgressBar(ProgressOf(index, count_, tally_, clock_.elapsed()), 20)
              + QStringLiteral("\x1b[K"));
        return;
    }
    catchUp(sofar);
}

void ProgressLines::finish(const RunRecord &run)
{
    if (terminal_) {
        const int shown = run.measurements.isEmpty() ? 0 : run.measurements.last().index;
        tally_.catchUp(run);
        write(QLatin1Char('\r') + ProgressBar(ProgressOf(shown, count_, tally_, clock_.elapsed()), 20)
              + QStringLiteral("\x1b[K\n"));
        return;
    }
    catchUp(run);
}

void ProgressLines::catchUp(const RunRecord &sofar)
{
    // Retakes come before the measurement they were taken for.
    while (shownRetakes_ < sofar.retakes.size() || shownKept_ < sofar.measurements.size()) {
        const bool retakeFirst = shownRetakes_ < sofar.retakes.size()
                                 && (shownKept_ == sofar.measurements.size()
                                     || sofar.retakes[shownRetakes_].forMeasurement <= sofar.measurements[shownKept_].index);
        if (retakeFirst) {
            write(RetakeLine(sofar.retakes[shownRetakes_++], count_) + QLatin1Char('\n'));
            continue;
        }
        // The running figures as they stood when this measurement was kept.
        tally_.catchUp(sofar, shownKept_ + 1, shownRetakes_);
        const RunProgress p = ProgressOf(shownKept_ + 1, count_, tally_, clock_.elapsed());
        write(MeasurementLine(sofar.measurements[shownKept_++], p) + QLatin1Char('\n'));
    }
}

void ProgressLines::write(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), out_);
    std::fflush(out_);
}
