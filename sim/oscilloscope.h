// The oscilloscope, with the "Orvix" or the "Benlo" command set. Keeps the
// state that changes what it returns: record length, data format, channels
// on/off, trigger level, run state, and the last acquisition.
#pragma once

#include "sim/instrument.h"
#include "sim/scenario.h"
#include "sim/truthstore.h"
#include "sim/waveform.h"

namespace benchsim {

class Oscilloscope : public Instrument {
public:
    Oscilloscope(const Scenario &scenario, TruthStore *truths);

protected:
    bool execute(const Command &cmd, Context &ctx) override;
    QByteArray identity() const override;
    void reset() override;
    void trigger(Context &ctx) override;

private:
    bool executeOrvix(const QByteArray &pattern, int channel, const Command &cmd, Context &ctx);
    bool executeBenlo(const QByteArray &pattern, int channel, const Command &cmd, Context &ctx);
    void acquire();
    void answerData(int channel, Context &ctx);
    const QByteArray &realReply(int index);
    const QByteArray &asciiReply(int index);
    const QByteArray &zeroReply();
    bool setChannel(int channel, const Command &cmd, Context &ctx);
    bool setTriggerLevel(const Command &cmd, Context &ctx);
    bool setRunState(const QByteArray &state, const Command &cmd, Context &ctx);

    const Scenario scenario_;
    TruthStore *truths_;
    bool benlo_;

    int recordLength_ = 10000; // Orvix: "ACQ:POIN"; Benlo: the scenario's
    bool ascii_ = true;        // "FORM ASC" after reset
    bool channelOn_[4] = {true, false, false, false};
    double triggerLevel_ = 0.0; // volts
    QByteArray runState_ = "RUN";
    bool hasAcquisition_ = false;
    Acquisition last_;
    bool hasSamples_[3] = {false, false, false}; // last_.block[c] holds its samples (made at its first read)
    // Made at the first read of the current acquisition and kept for the
    // next: each channel's FORM ASC response (null until made, or when it
    // would pass MaxResponseBytes), and the zero record of a channel that is
    // off, as REAL,32 and ASC responses, for zeroPoints_ samples.
    QByteArray asciiReply_[3];
    bool asciiTooLong_[3] = {false, false, false};
    QByteArray zeroReply_[2];
    int zeroPoints_ = 0;
};

} // namespace benchsim
