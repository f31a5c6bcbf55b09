#include "data/reading_stability.h"

#include "data/fp_environment.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace zorm {

namespace {

using Extended = long double;

// The statistics of values[i] taken at times[i]; nothing unless there are two
// values at different times. Two passes, the second about the means, so that
// neither a large reading nor a large clock value costs digits.
std::optional<WindowStatistics> StatisticsOf(const std::vector<double>& times,
                                             const std::vector<double>& values) {
    const std::size_t n = values.size();
    if (n < 2) {
        return std::nullopt;
    }
    Extended sumT = 0;
    Extended sumV = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sumT += times[i];
        sumV += values[i];
    }
    const Extended meanT = sumT / n;
    const Extended meanV = sumV / n;
    Extended tt = 0;
    Extended tv = 0;
    Extended vv = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Extended dt = times[i] - meanT;
        const Extended dv = values[i] - meanV;
        tt += dt * dt;
        tv += dt * dv;
        vv += dv * dv;
    }
    if (!(tt > 0)) {
        return std::nullopt;
    }
    const auto [smallest, largest] = std::minmax_element(values.begin(), values.end());
    WindowStatistics s;
    s.Count = static_cast<int>(n);
    s.Mean = static_cast<double>(meanV);
    s.StandardDeviation = static_cast<double>(std::sqrt(vv / (n - 1)));
    s.PeakToPeak = *largest - *smallest;
    s.SlopePerMinute = static_cast<double>(tv / tt * 60);
    return s;
}

bool Within(const WindowStatistics& s, const StabilityLimits& limits) {
    return std::fabs(s.SlopePerMinute) <= limits.SlopePerMinute &&
           s.StandardDeviation <= limits.StandardDeviation;
}

} // namespace

const char* StabilityText(Stability stability) {
    switch (stability) {
    case Stability::Stable:
        return "stabilní";
    case Stability::Unstable:
        return "nestabilní";
    case Stability::TooFewData:
        break;
    }
    return "málo dat";
}

StabilityJudgement JudgeStability(std::span<const TimedReading> readings, double now,
                                  const StabilitySettings& settings,
                                  const std::optional<Cubic>& inForce) {
    const ExtendedArithmetic scope;
    const double end = ExtendedArithmetic::Kept(now);
    const double start = end - settings.WindowSeconds;
    std::vector<double> times;
    std::vector<std::int32_t> raws;
    times.reserve(readings.size());
    raws.reserve(readings.size());
    for (const TimedReading& r : readings) {
        if (r.Seconds >= start && r.Seconds <= end) {
            times.push_back(r.Seconds);
            raws.push_back(r.Raw);
        }
    }
    const std::vector<double> bits(raws.begin(), raws.end());

    StabilityJudgement judgement;
    judgement.Bits = StatisticsOf(times, bits);
    if (inForce) {
        const std::optional<std::vector<double>> celsius = FittedTemperatures(*inForce, raws);
        if (celsius && std::all_of(celsius->begin(), celsius->end(),
                                   [](double t) { return std::isfinite(t); })) {
            judgement.Celsius = StatisticsOf(times, *celsius);
        }
    }

    const double enough = std::max(3.0, settings.WindowSeconds / (2 * ReadingTickSeconds));
    const bool covered =
        !times.empty() && static_cast<double>(times.size()) >= enough &&
        *std::min_element(times.begin(), times.end()) <= start + StabilityGapSeconds &&
        *std::max_element(times.begin(), times.end()) >= end - StabilityGapSeconds;
    if (!covered || !judgement.Bits) {
        judgement.Verdict = Stability::TooFewData;
    } else if (judgement.Celsius) {
        judgement.Verdict =
            Within(*judgement.Celsius, settings.Celsius) ? Stability::Stable : Stability::Unstable;
    } else {
        judgement.Verdict =
            Within(*judgement.Bits, settings.Bits) ? Stability::Stable : Stability::Unstable;
    }
    return judgement;
}

} // namespace zorm
