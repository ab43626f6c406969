#include "app/progresslines.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

QString Delay(const Measurement &m, DelayPath path, const QString &unit)
{
    const QString name = QLatin1String(PathInfo(path).label);
    const double v = m.delay(path);
    if (std::isfinite(v))
        return QStringLiteral("%1 %2%3").arg(name, QString::number(v, 'f', 3), unit);
    return QStringLiteral("%1 nan (%2)").arg(name, DelayGapText(m.gap(path)));
}

enum class Means { Full, Short, None };

// "RF 40.1, HDMI 35.2, Sink 120.0 ms": each path's label without "Source->".
QString ShortMeans(const RunProgress &p)
{
    if (p.kept == 0)
        return QStringLiteral("no value yet");
    const double means[3] = {p.meanRf, p.meanHd, p.meanSnk};
    QStringList parts;
    for (const DelayPathInfo &path : DelayPaths) {
        if (path.path == DelayPath::Src2Hd && !p.hdMeasured)
            continue;
        const double v = means[int(path.path)];
        parts << QStringLiteral("%1 %2")
                     .arg(QString::fromLatin1(path.label).section(QStringLiteral("->"), -1),
                          std::isfinite(v) ? QString::number(v, 'f', 1) : QStringLiteral("nan"));
    }
    return parts.join(QStringLiteral(", ")) + QStringLiteral(" ms");
}

QString Tail(const RunProgress &p, bool withRetakes, Means means = Means::Full)
{
    QString text = means == Means::Full ? RunningMeansText(p) : means == Means::Short ? ShortMeans(p) : QString();
    if (withRetakes && p.retaken > 0)
        text += QStringLiteral(" | %1 taken again").arg(p.retaken);
    const QString left = p.kept < p.count ? TimeLeftText(p) : QString();
    if (!left.isEmpty())
        text += QStringLiteral(" | ") + left;
    if (text.startsWith(QLatin1String(" | ")))
        text.remove(0, 3);
    return text;
}

QString Bar(const RunProgress &p, int width, Means means, bool withRetakes = true)
{
    const int done = p.count > 0 ? int(qint64(width) * p.kept / p.count) : 0;
    return QStringLiteral("[%1%2] %3/%4 %5")
        .arg(QString(done, QLatin1Char('#')), QString(width - done, QLatin1Char('-')))
        .arg(p.index)
        .arg(p.count)
        .arg(Tail(p, withRetakes, means))
        .trimmed();
}

} // namespace

QString MeasurementLine(const Measurement &m, const RunProgress &p)
{
    QStringList delays;
    for (const DelayPathInfo &p : DelayPaths) {
        if (m.gap(p.path) == DelayGap::NotMeasured)
            continue;
        delays << Delay(m, p.path, QLatin1Char(' ') + QLatin1String(p.unit));
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
    return Bar(p, width, Means::Full);
}

QString FittedProgressBar(const RunProgress &p, int columns)
{
    // A line of exactly the terminal's width wraps on some terminals.
    const int room = std::max(1, columns - 1);
    struct Form
    {
        int width;
        Means means;
        bool withRetakes;
    };
    const Form forms[] = {{20, Means::Full, true}, {20, Means::Short, true}, {20, Means::Short, false},
                          {20, Means::None, true}, {10, Means::None, true}};
    for (const Form &f : forms) {
        const QString line = Bar(p, f.width, f.means, f.withRetakes);
        if (line.size() <= room)
            return line;
    }
    return Bar(p, 10, Means::None).left(room);
}

int TerminalColumns(int fd)
{
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

ProgressLines::ProgressLines(std::FILE *out, bool terminal, int count) : out_(out), terminal_(terminal), count_(count)
{
    clock_.start();
}

void ProgressLines::acquiring(int index, const RunRecord &sofar)
{
    if (terminal_) {
        tally_.catchUp(sofar);
        const RunProgress p = ProgressOf(index, count_, tally_, sofar, clock_.elapsed());
        // Said once per measurement, on a line of its own above the bar.
        if (p.notTriggering && hintedFor_ != index) {
            hintedFor_ = index;
            write(QLatin1Char('\r') + TriggerHintText(p) + QStringLiteral("\x1b[K\n"));
        }
        // Back to the line's start, the bar, and clear what a longer bar left.
        write(QLatin1Char('\r') + FittedProgressBar(p, TerminalColumns(::fileno(out_))) + QStringLiteral("\x1b[K"));
        return;
    }
    catchUp(sofar);
}

void ProgressLines::finish(const RunRecord &run)
{
    if (terminal_) {
        const int shown = run.measurements.isEmpty() ? 0 : run.measurements.last().index;
        tally_.catchUp(run);
        write(QLatin1Char('\r')
              + FittedProgressBar(ProgressOf(shown, count_, tally_, run, clock_.elapsed()), TerminalColumns(::fileno(out_)))
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
            const Retake &r = sofar.retakes[shownRetakes_++];
            write(RetakeLine(r, count_) + QLatin1Char('\n'));
            if (r.timedOut && hintedFor_ != r.forMeasurement) {
                hintedFor_ = r.forMeasurement;
                RunProgress p;
                p.notTriggering = true;
                write(TriggerHintText(p) + QLatin1Char('\n'));
            }
            continue;
        }
        // The running figures as they stood when this measurement was kept.
        tally_.catchUp(sofar, shownKept_ + 1, shownRetakes_);
        const RunProgress p = ProgressOf(shownKept_ + 1, count_, tally_, sofar, clock_.elapsed());
        write(MeasurementLine(sofar.measurements[shownKept_++], p) + QLatin1Char('\n'));
    }
}

void ProgressLines::write(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), out_);
    std::fflush(out_);
}
