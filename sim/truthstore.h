// The acquisitions of one bench and their ground truth, shared between the
// oscilloscope (which acquires) and the spectrum analyzer (whose sweep is
// triggered by the oscilloscope's trigger output, so its trace shows the
// same burst).
#pragma once

#include "sim/bench.h"

#include <QVector>

#include <mutex>

namespace benchsim {

class TruthStore {
public:
    // Records an acquisition; returns its index.
    int add(const Truth &truth, double rfTime)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        truths_.append(truth);
        rfTimes_.append(rfTime);
        return truths_.size() - 1;
    }
    int count() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return truths_.size();
    }
    // The latest acquisition's index and burst time; false when none yet.
    bool latest(int *index, double *rfTime) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (truths_.isEmpty())
            return false;
        *index = truths_.size() - 1;
        *rfTime = rfTimes_.last();
        return true;
    }
    void setAnalyzerTrace(int index, int points, double timePerSample, int rfIndex)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (index < 0 || index >= truths_.size())
            return;
        Truth &t = truths_[index];
        t.saPoints = points;
        t.saTimePerSample = timePerSample;
        t.saRfIndex = rfIndex;
    }
    QVector<Truth> all() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return truths_;
    }

private:
    mutable std::mutex mutex_;
    QVector<Truth> truths_;
    QVector<double> rfTimes_;
};

} // namespace benchsim
