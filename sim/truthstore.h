// The acquisitions of one bench and their ground truth, shared between the
// oscilloscope (which acquires) and the spectrum analyzer (whose sweep is
// triggered by the oscilloscope's trigger output, so its trace shows the
// same burst).
#pragma once

#include "sim/bench.h"

#include <QVector>

#include <deque>
#include <mutex>

namespace benchsim {

class TruthStore {
public:
    // Records an acquisition; returns its index.
    int add(const Truth &truth, double rfTime)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // A message can hold a hundred thousand "*TRG": only the latest are kept.
        if (int(truths_.size()) >= KeptTruths) {
            truths_.pop_front();
            ++first_;
        }
        truths_.push_back({truth, rfTime});
        return first_ + int(truths_.size()) - 1;
    }
    // Acquisitions made so far, also those no longer kept.
    int count() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return first_ + int(truths_.size());
    }
    // The latest acquisition's index and burst time; false when none yet.
    bool latest(int *index, double *rfTime) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (truths_.empty())
            return false;
        *index = first_ + int(truths_.size()) - 1;
        *rfTime = truths_.back().rfTime;
        return true;
    }
    void setAnalyzerTrace(int index, int points, double timePerSample, int rfIndex, double rfCrossS)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (index < first_ || index - first_ >= int(truths_.size()))
            return;
        Truth &t = truths_[size_t(index - first_)].truth;
        t.saPoints = points;
        t.saTimePerSample = timePerSample;
        t.saRfIndex = rfIndex;
        t.saRfCrossS = rfCrossS;
    }
    // The RF channel's crossing, known once its samples are made.
    void setRfCrossing(int index, double rfCrossS)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (index >= first_ && index - first_ < int(truths_.size()))
            truths_[size_t(index - first_)].truth.rfCrossS = rfCrossS;
    }
    // The kept acquisitions, oldest first; Truth::index numbers them all.
    QVector<Truth> all() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        QVector<Truth> out;
        out.reserve(int(truths_.size()));
        for (const Kept &k : truths_)
            out.append(k.truth);
        return out;
    }

private:
    struct Kept {
        Truth truth;
        double rfTime;
    };
    mutable std::mutex mutex_;
    std::deque<Kept> truths_;
    int first_ = 0; // index of truths_.front()
};

} // namespace benchsim
