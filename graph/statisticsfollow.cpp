#include "graph/statisticsfollow.h"

#include "graph/statisticswindow.h"

#include <QCoreApplication>
#include <QTableView>

#include <algorithm>

StatisticsFollower::StatisticsFollower(QWidget *owner) : owner_(owner) {}

void StatisticsFollower::update(const RunRecord &sofar)
{
    // Only a new measurement changes what the window shows. The run's empty
    // start is shown at once (the window then says a run is under way), and
    // so is its first measurement; the waiting starts from there.
    const int kept = sofar.measurements.size();
    if (!owner_ || kept == shownKept_)
        return;
    if (kept > 0 && sinceLast_.isValid() && sinceLast_.elapsed() < intervalMs_)
        return;
    auto *window = owner_->findChild<StatisticsWindow *>(QString(), Qt::FindDirectChildrenOnly);
    if (!window || !window->isVisible())
        return;
    QElapsedTimer cost;
    cost.start();
    window->followRun(sofar);
    // Laid out and painted now, so the cost below is the whole of it; the
    // run's next pass of the event loop then finds nothing left to do.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    window->table->doItemsLayout();
    window->repaint();
    ++redraws_;
    shownKept_ = kept;
    if (kept > 0) {
        intervalMs_ = std::max(MinIntervalMs, CostFactor * cost.elapsed());
        sinceLast_.start();
    }
}
