// Where a sensor's calibration in force was made: the raw readings of its
// points, and the temperatures the cubic gives at their ends. A reading
// outside them is extrapolated, and the main window says so.
#pragma once

#include "data/records.h"

#include <cstdint>
#include <optional>
#include <string>

namespace zorm {

struct CalibratedRange {
    // The smallest and the largest raw reading of the points.
    std::int32_t LowestRaw = 0;
    std::int32_t HighestRaw = 0;
    // The temperatures the cubic gives at those two readings, as the main
    // window computes a temperature, the lower one first: for a cubic that
    // falls as the reading rises, Lower belongs to HighestRaw.
    float Lower = 0;
    float Upper = 0;

    bool Contains(std::int32_t raw) const { return raw >= LowestRaw && raw <= HighestRaw; }
};

// The range of points 1..Count (at most 30) of sensor 1..3 in `params`.
// Nothing when the sensor has no calibration in force (HasCalibration), has
// no points (Count 0: where it was calibrated is not known), or when its
// cubic faults at an end of the range (only a damaged set can do that).
std::optional<CalibratedRange> CalibratedRangeOf(const SensorParamSet& params, int sensor);

// "mimo kalibrovaný rozsah −20,50 až 141,50 °C": the ends in fixed(6, 2), a
// minus sign as the true minus (U+2212).
std::string OutsideRangeText(const CalibratedRange& range, char sep = '.');

// What the main window tells about a reading of sensor 1..3 shown in °C:
// OutsideRangeText when the sensor has a range and the reading lies outside
// it, nothing otherwise.
std::optional<std::string> ExtrapolationHint(const SensorParamSet& params, int sensor,
                                             std::int32_t raw, char sep = '.');

} // namespace zorm
