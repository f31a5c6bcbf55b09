// Where one sensor lies in the 824-byte image of a parameter set, for tests
// that compare sensors byte for byte.
#pragma once

#include "data/records.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace zorm::test {

// The byte ranges (offset, length) of sensor 1..3 in the image, but for its
// Calibrated byte: its 30 true temperatures, 30 raw readings, four
// coefficients and Count.
inline std::vector<std::pair<std::size_t, std::size_t>> SensorRanges(int s) {
    const auto sensor = static_cast<std::size_t>(s - 1);
    std::vector<std::pair<std::size_t, std::size_t>> ranges = {
        {SensorParamSet::TrueTempOffset + sensor * 120, 120},
        {SensorParamSet::RawOffset + sensor * 120, 120}};
    for (std::size_t power = 0; power < 4; ++power) {
        ranges.emplace_back(SensorParamSet::CoefficientOffset + (power * 3 + sensor) * 8, 8);
    }
    ranges.emplace_back(SensorParamSet::CountOffset + sensor, 1);
    return ranges;
}

inline std::size_t CalibratedByte(int s) {
    return SensorParamSet::CalibratedOffset + static_cast<std::size_t>(s - 1);
}

} // namespace zorm::test
