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
};

} // namespace benchsim
