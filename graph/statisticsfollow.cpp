#include "graph/statisticsfollow.h"

#include "graph/statisticswindow.h"

#include <algorithm>

StatisticsFollower::StatisticsFollower(QWidget *owner) : owner_(owner) {}

void StatisticsFollower::update(const RunRecord &sofar)
{
    if (!owner_)
        return;
    if (sinceLast_.isValid() && sinceLast_.elapsed() < intervalMs_)
        return;
    auto *window = owner_->findChild<StatisticsWindow *>(QString(), Qt::FindDirectChildrenOnly);
    if (!window || !window->isVisible())
        return;
    QElapsedTimer cost;
    cost.start();
    window->followRun(sofar);
    ++redraws_;
    intervalMs_ = std::max(MinIntervalMs, CostFactor * cost.elapsed());
    sinceLast_.start();
}
