#include "data/calibrated_range.h"

#include "data/calibration.h"
#include "data/evaluation.h"
#include "data/fp_environment.h"
#include "data/number_text.h"

#include <algorithm>
#include <utility>

namespace zorm {

namespace {

// fixed(6, 2) with the true minus sign in front of a negative value.
std::string EndText(float t, char sep) {
    std::string text = fixed(t, 6, 2, sep);
    if (!text.empty() && text.front() == '-') {
        text.replace(0, 1, "\u2212");
    }
    return text;
}

} // namespace

std::optional<CalibratedRange> CalibratedRangeOf(const SensorParamSet& params, int sensor) {
    if (sensor < 1 || sensor > SensorParamSet::Sensors ||
        !HasCalibration(params.Coefficients, sensor)) {
        return std::nullopt;
    }
    const std::vector<CalibrationPoint> points = PointsOf(params, sensor, params.Count(sensor));
    if (points.empty()) {
        return std::nullopt;
    }
    const auto [lowest, highest] = std::minmax_element(
        points.begin(), points.end(),
        [](const CalibrationPoint& a, const CalibrationPoint& b) { return a.Raw < b.Raw; });
    CalibratedRange range;
    range.LowestRaw = lowest->Raw;
    range.HighestRaw = highest->Raw;
    if (!EvaluateCubic(params.Coefficients, range.LowestRaw, sensor, range.Lower) ||
        !EvaluateCubic(params.Coefficients, range.HighestRaw, sensor, range.Upper)) {
        return std::nullopt;
    }
    if (range.Upper < range.Lower) {
        std::swap(range.Lower, range.Upper);
    }
    return range;
}

std::string OutsideRangeText(const CalibratedRange& range, char sep) {
    // Formatted inside the scope, so that no flag of a tiny value is left
    // with the caller.
    const ExtendedArithmetic environment;
    return "mimo kalibrovaný rozsah " + EndText(range.Lower, sep) + " až " +
           EndText(range.Upper, sep) + " °C";
}

std::optional<std::string> ExtrapolationHint(const SensorParamSet& params, int sensor,
                                             std::int32_t raw, char sep) {
    const std::optional<CalibratedRange> range = CalibratedRangeOf(params, sensor);
    if (!range || range->Contains(raw)) {
        return std::nullopt;
    }
    return OutsideRangeText(*range, sep);
}

} // namespace zorm
