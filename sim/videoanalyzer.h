// The video analyzer: it measures the HDMI in/out delay by itself; the bench
// answers its result queries with the scenario's values.
#pragma once

#include "sim/instrument.h"
#include "sim/scenario.h"

namespace benchsim {

class VideoAnalyzer : public Instrument {
public:
    explicit VideoAnalyzer(const Scenario &scenario);

protected:
    bool execute(const Command &cmd, Context &ctx) override;
    QByteArray identity() const override { return scenario_.vaIdn; }
    void reset() override {}

private:
    const Scenario scenario_;
};

} // namespace benchsim
