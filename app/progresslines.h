// A headless run's progress on standard error: on a terminal one bar,
// redrawn in place, with "i/N", the running means and the time left; to a
// file or a pipe one plain line per kept measurement (and per acquisition
// taken again), so a CI log shows the run as it went.
#pragma once

#include "measurement/runprogress.h"
#include "measurement/runrecord.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

// "3/20 Source->RF 40.123 ms, Source->Sink 119.876 ms | means Source->RF
// 40.1 ms, Source->Sink 120.0 ms | about 5 s left"; a delay without a value
// shows "nan" and why.
QString MeasurementLine(const Measurement &m, const RunProgress &p);

// "again for 2/20: first sample outside the window (first sample 0.5 V)"
QString RetakeLine(const Retake &r, int count);

// "[#####---------------] 5/20 Source->RF 40.1 ms, ... about 5 s left"
QString ProgressBar(const RunProgress &p, int width);

// The bar in fewer than `columns` characters, so a terminal never wraps it:
// the means are shortened first ("RF 40.1, Sink 120.0 ms"), then the count
// of acquisitions taken again goes, then the means, then the bar narrows;
// what still does not fit is cut.
QString FittedProgressBar(const RunProgress &p, int columns);

// The width of the terminal on fd, 80 when it cannot be told.
int TerminalColumns(int fd);

class ProgressLines
{
public:
    ProgressLines(std::FILE *out, bool terminal, int count);

    // The run's "acquiring" callback.
    void acquiring(int index, const RunRecord &sofar);
    // After the run: what is not shown yet, and the bar's last state.
    void finish(const RunRecord &run);

private:
    void catchUp(const RunRecord &sofar);
    void write(const QString &text);

    std::FILE *out_;
    bool terminal_;
    int count_;
    int shownKept_ = 0;
    int shownRetakes_ = 0;
    RunTally tally_; // the figures as far as shown
    int hintedFor_ = 0; // the measurement the trigger hint was given for
    QElapsedTimer clock_;
};
