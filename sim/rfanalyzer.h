// The spectrum analyzer in zero span, externally triggered by the
// oscilloscope: its trace shows the RF burst of the oscilloscope's latest
// acquisition over a sweep centred on the trigger.
#pragma once

#include "sim/instrument.h"
#include "sim/scenario.h"
#include "sim/truthstore.h"

namespace benchsim {

class SpectrumAnalyzer : public Instrument {
public:
    SpectrumAnalyzer(const Scenario &scenario, TruthStore *truths);

protected:
    bool execute(const Command &cmd, Context &ctx) override;
    QByteArray identity() const override { return scenario_.saIdn; }
    void reset() override;

private:
    void answerTrace(const Command &cmd, Context &ctx);

    const Scenario scenario_;
    TruthStore *truths_;
    int sweepPoints_ = 1001;
    double sweepTime_ = 1.0; // seconds; starts matched to the oscilloscope's record
    bool continuous_ = true;
    bool ascii_ = true;

    // The latest trace response, kept while the same trace is asked for again.
    struct TraceKey {
        int index = -2; // acquisition (-1: none yet)
        int points = 0;
        double span = 0;
        bool ascii = false;
        bool operator==(const TraceKey &o) const
        {
            return index == o.index && points == o.points && span == o.span && ascii == o.ascii;
        }
    };
    TraceKey traceKey_;
    QByteArray traceReply_;
    int traceRfIndex_ = -1;
    double traceRfCross_ = 0; // the cached trace's RF crossing (Truth::saRfCrossS)
};

} // namespace benchsim
