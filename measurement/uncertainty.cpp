#include "measurement/uncertainty.h"

#include "measurement/runstats.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
// A bound a stands for a rectangular distribution of half-width a.
const double Rectangular = std::sqrt(3.0);

double TimeBaseMs(double ppm, double delayMs)
{
    return ppm * 1e-6 * std::fabs(delayMs) / Rectangular;
}

const FineEdge &EdgeOf(const Measurement &m, DelayPath path)
{
    return path == DelayPath::Src2Rf ? m.fine.rf : m.fine.snk;
}

} // namespace

double DelayBudget::combined() const
{
    return std::sqrt(interpolation * interpolation + timingNoise * timingNoise + timeBase * timeBase
                     + calibration * calibration);
}

double CorrectedDelay(const Measurement &m, DelayPath path, const Calibration &calibration)
{
    double value = m.fineDelay(path);
    if (path == DelayPath::Src2Hd)
        value = m.hdGap == DelayGap::None ? m.src2Hd : NaN;
    return value - calibration.of(path).offsetMs;
}

bool MeasurementBudget(const Measurement &m, DelayPath path, const Calibration &calibration, DelayBudget *budget)
{
    const double corrected = CorrectedDelay(m, path, calibration);
    if (!std::isfinite(corrected))
        return false;
    DelayBudget b;
    b.calibration = calibration.of(path).uncertaintyMs;
    if (path == DelayPath::Src2Hd) {
        if (!calibration.of(path).set)
            return false;
    } else {
        const FineEdge &src = m.fine.src;
        const FineEdge &edge = EdgeOf(m, path);
        b.interpolation = std::hypot(src.boundS, edge.boundS) / Rectangular * 1000.0;
        b.timingNoise = std::hypot(src.noiseS, edge.noiseS) * 1000.0;
        b.timeBase = TimeBaseMs(calibration.timeBasePpm, corrected);
    }
    *budget = b;
    return true;
}

double MeasurementUncertainty(const Measurement &m, DelayPath path, const Calibration &calibration)
{
    DelayBudget b;
    return MeasurementBudget(m, path, calibration, &b) ? MeasurementCoverageFactor * b.combined() : NaN;
}

MeanUncertainty PathUncertainty(const RunRecord &run, DelayPath path)
{
    MeanUncertainty u;
    u.measured = path != DelayPath::Src2Hd || run.settings.hdmi;
    if (!u.measured)
        return u;
    const Calibration &cal = run.calibration;

    QVector<double> corrected, fine;
    double interpolationSum = 0.0;
    DelayBudget squares; // sums of squares, for the typical values
    DelayBudget single;  // the one measurement's, when there is only one
    int budgets = 0;
    for (const Measurement &m : run.measurements) {
        const double c = CorrectedDelay(m, path, cal);
        if (!std::isfinite(c))
            continue;
        corrected.append(c);
        fine.append(m.fineDelay(path));
        DelayBudget b;
        if (!MeasurementBudget(m, path, cal, &b))
            continue;
        ++budgets;
        single = b;
        interpolationSum += b.interpolation;
        squares.interpolation += b.interpolation * b.interpolation;
        squares.timingNoise += b.timingNoise * b.timingNoise;
        squares.timeBase += b.timeBase * b.timeBase;
        squares.calibration += b.calibration * b.calibration;
        const double expanded = MeasurementCoverageFactor * b.combined();
        u.largestExpanded = std::isnan(u.largestExpanded) ? expanded : std::max(u.largestExpanded, expanded);
    }
    u.n = corrected.size();
    if (u.n == 0)
        return u;
    const PathStats s = ComputePathStats(corrected);
    u.correctedMean = s.mean;
    u.fineMean = path == DelayPath::Src2Hd ? NaN : ComputePathStats(fine).mean;
    if (budgets == 0)
        return u; // the HDMI path without a calibration entry: nothing known beyond the scatter
    u.typical.interpolation = std::sqrt(squares.interpolation / budgets);
    u.typical.timingNoise = std::sqrt(squares.timingNoise / budgets);
    u.typical.timeBase = std::sqrt(squares.timeBase / budgets);
    u.typical.calibration = std::sqrt(squares.calibration / budgets);

    u.interpolation = interpolationSum / budgets;
    u.timeBase = path == DelayPath::Src2Hd ? 0.0 : TimeBaseMs(cal.timeBasePpm, u.correctedMean);
    u.calibration = cal.of(path).uncertaintyMs;
    const double fixed2 = u.interpolation * u.interpolation + u.timeBase * u.timeBase + u.calibration * u.calibration;
    if (u.n == 1) {
        // No scatter yet: the measurement's own timing noise stands for it.
        u.statistical = single.timingNoise;
        u.combined = std::sqrt(fixed2 + u.statistical * u.statistical);
        u.k = MeasurementCoverageFactor;
    } else {
        u.statistical = s.sd / std::sqrt(double(u.n));
        u.combined = std::sqrt(fixed2 + u.statistical * u.statistical);
        const double stat4 = std::pow(u.statistical, 4);
        if (stat4 > 0) {
            u.dof = std::pow(u.combined, 4) / (stat4 / double(u.n - 1));
            u.k = std::max(MeasurementCoverageFactor, StudentTQuantile(0.975, std::min(u.dof, 1e7)));
        } else {
            u.k = MeasurementCoverageFactor;
        }
    }
    u.expanded = u.k * u.combined;
    return u;
}

RunUncertainty ComputeRunUncertainty(const RunRecord &run)
{
    RunUncertainty out;
    for (const DelayPathInfo &p : DelayPaths)
        out.paths[int(p.path)] = PathUncertainty(run, p.path);
    return out;
}
