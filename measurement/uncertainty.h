// What a corrected delay can be off by: an uncertainty budget per
// measurement and per path mean, from the fine edges' interpolation bounds
// and timing noise, the time base and the calibration (docs/uncertainty.md
// explains each term). Plain functions over a run's record.
#pragma once

#include "measurement/runrecord.h"

#include <limits>

// About 95 % for one measurement, whose noise is estimated from hundreds of
// samples: the expanded uncertainty is twice the combined one.
constexpr double MeasurementCoverageFactor = 2.0;

// Standard uncertainties (k = 1), ms.
struct DelayBudget
{
    double interpolation = 0.0; // the two edges' interpolation bounds, as rectangular distributions
    double timingNoise = 0.0;   // the two edges' timing noise
    double timeBase = 0.0;      // the oscilloscope's time-base accuracy over the delay, rectangular
    double calibration = 0.0;   // the calibration's offset

    double combined() const;
};

// The fine delay less the calibration's offset (the HDMI path: the video
// analyzer's reading less it), ms; NaN where there is no delay.
double CorrectedDelay(const Measurement &m, DelayPath path, const Calibration &calibration);

// One measurement's budget for a path. False where the corrected delay has
// no value, and for the HDMI path unless the calibration gives it an entry:
// the tool cannot know the video analyzer's own accuracy.
bool MeasurementBudget(const Measurement &m, DelayPath path, const Calibration &calibration, DelayBudget *budget);

// Its expanded uncertainty (k = 2), ms; NaN where there is no budget.
double MeasurementUncertainty(const Measurement &m, DelayPath path, const Calibration &calibration);

// The uncertainty of a path's corrected mean. The measurements' scatter
// (Student's t over n - 1 degrees of freedom) takes the place of their
// timing noise; the interpolation bounds, the time base and the calibration
// are taken as the same for every measurement and do not average out.
struct MeanUncertainty
{
    static constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
    bool measured = true; // false: the path was switched off for this run
    int n = 0;            // measurements with a corrected delay
    double fineMean = NaN;
    double correctedMean = NaN;
    // Standard uncertainties of the mean, ms: the scatter's (sd / sqrt(n);
    // with one measurement, that measurement's timing noise) and the three
    // that do not average out.
    double statistical = NaN, interpolation = NaN, timeBase = NaN, calibration = NaN;
    double combined = NaN;
    double dof = NaN; // effective degrees of freedom (Welch-Satterthwaite); infinite as NaN
    double k = NaN;   // coverage factor for about 95 %, at least 2
    double expanded = NaN; // k x combined; NaN where unknown (the HDMI path without a calibration entry)
    // Per measurement: each component's root mean square, and the largest
    // expanded uncertainty of a single delay.
    DelayBudget typical;
    double largestExpanded = NaN;
};

struct RunUncertainty
{
    MeanUncertainty paths[3];
    const MeanUncertainty &of(DelayPath path) const { return paths[int(path)]; }
};

MeanUncertainty PathUncertainty(const RunRecord &run, DelayPath path);
RunUncertainty ComputeRunUncertainty(const RunRecord &run);
