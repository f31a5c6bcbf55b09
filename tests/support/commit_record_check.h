// What a calibration record must hold after a commit of a sensor's points
// over the calibration in force before it, computed again from the data/
// functions: the points, the fit to the bit, the fitted values and
// deviations, the cubic as found and the deviations it gave, n, the largest
// deviation and s. The stamp (operator, converter, ...) each test checks
// itself.
#pragma once

#include "data/calibration.h"
#include "data/evaluation.h"
#include "data/fit_statistics.h"
#include "records/calibration_record.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <vector>

namespace zorm::test {

inline std::array<std::uint64_t, 4> CubicBits(const Cubic& cubic) {
    return {std::bit_cast<std::uint64_t>(cubic.A3), std::bit_cast<std::uint64_t>(cubic.A2),
            std::bit_cast<std::uint64_t>(cubic.A1), std::bit_cast<std::uint64_t>(cubic.A0)};
}

inline std::optional<double> Widened(const std::optional<float>& value) {
    return value ? std::optional<double>(*value) : std::nullopt;
}

inline void ExpectCommitRecord(const CalibrationRecord& r, int sensor,
                               const std::vector<CalibrationPoint>& points, const Cubic& before) {
    EXPECT_EQ(r.Sensor, sensor);
    const std::optional<Cubic> fit = FitCubic(points);
    ASSERT_TRUE(fit);
    EXPECT_EQ(CubicBits(r.AsLeft), CubicBits(*fit));
    EXPECT_EQ(CubicBits(r.AsFound), CubicBits(before));
    CoefficientTable table;
    SetCubic(table, 1, before);
    const bool inForce = HasCalibration(table, 1);
    EXPECT_EQ(r.AsFoundInForce, inForce);
    const std::vector<FitDeviation> rows = FitDeviations(*fit, points);
    const std::vector<std::optional<float>> asFound = AsFoundDeviations(before, points);
    ASSERT_EQ(r.Points.size(), points.size());
    for (std::size_t k = 0; k < points.size(); ++k) {
        SCOPED_TRACE(k);
        const RecordPoint& p = r.Points[k];
        EXPECT_EQ(p.Raw, points[k].Raw);
        EXPECT_EQ(p.TrueTemp, double{points[k].TrueTemp});
        EXPECT_EQ(p.Fitted, std::optional<double>(rows[k].Fitted));
        EXPECT_EQ(p.Deviation, std::optional<double>(rows[k].Deviation));
        EXPECT_EQ(p.AsFoundDeviation, inForce ? Widened(asFound[k]) : std::nullopt);
    }
    EXPECT_EQ(r.MaxDeviation, Widened(LargestDeviation(rows)));
    EXPECT_EQ(r.ResidualSd, ResidualStandardDeviation(rows));
}

} // namespace zorm::test
