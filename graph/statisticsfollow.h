// Lets an open Statistics window follow a run under way, from the run's
// "acquiring" callback: at most five redraws a second, and fewer when a
// redraw grows costly (a long run), so that redrawing (painting included)
// never takes more than about 1 % of the run's time.
#pragma once

#include "measurement/runrecord.h"

#include <QElapsedTimer>
#include <QPointer>

class QWidget;

class StatisticsFollower
{
public:
    // owner: whose Statistics window follows (the main window).
    explicit StatisticsFollower(QWidget *owner);

    // The run so far; redraws the window if it is open, the run kept a
    // measurement since the last redraw, and the window's turn has come.
    void update(const RunRecord &sofar);

    int redraws() const { return redraws_; }
    // The least time until the next redraw, from the last one's cost.
    qint64 intervalMs() const { return intervalMs_; }

    static constexpr qint64 MinIntervalMs = 200; // five a second
    static constexpr int CostFactor = 100;       // wait 100 times what a redraw took

private:
    QPointer<QWidget> owner_;
    QElapsedTimer sinceLast_;
    qint64 intervalMs_ = MinIntervalMs;
    int shownKept_ = -1; // measurements the window showed at its last redraw
    int redraws_ = 0;
};
