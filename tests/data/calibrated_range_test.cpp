// The raw range a sensor was calibrated over and the hint the main window
// gives for a reading outside it.
#include "data/calibrated_range.h"
#include "data/evaluation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

namespace zorm {
namespace {

// Sensor s of `set` with the cubic A1 x + A0 and `raws` as its points.
void Calibrate(SensorParamSet& set, int s, double a1, double a0,
               const std::vector<std::int32_t>& raws) {
    set.Coefficients.A1(s) = a1;
    set.Coefficients.A0(s) = a0;
    for (std::size_t k = 0; k < raws.size(); ++k) {
        set.Raw(s, static_cast<int>(k) + 1) = raws[k];
    }
    set.Count(s) = static_cast<std::uint8_t>(raws.size());
    set.Calibrated(s) = 1;
}

// The range of a rising and of a falling cubic over the same points: the
// same raw readings, the ends in ascending order either way, both ends
// inside; the hint only for readings beyond them, with a decimal comma or a
// point, and the true minus.
TEST(CalibratedRange, EndsInAscendingOrderForRisingAndFallingCubics) {
    SensorParamSet set;
    // -20.5 °C at 10000 and 141.5 °C at 74800 (0.0025 °C per bit) on
    // sensor 1; the mirror image on sensor 3. The points are not in order.
    const std::vector<std::int32_t> raws = {30000, 74800, 10000, 52000};
    Calibrate(set, 1, 0.0025, -45.5, raws);
    Calibrate(set, 3, -0.0025, 166.5, raws);
    for (const int s : {1, 3}) {
        SCOPED_TRACE(s);
        const std::optional<CalibratedRange> range = CalibratedRangeOf(set, s);
        ASSERT_TRUE(range);
        EXPECT_EQ(range->LowestRaw, 10000);
        EXPECT_EQ(range->HighestRaw, 74800);
        EXPECT_EQ(range->Lower, -20.5F);
        EXPECT_EQ(range->Upper, 141.5F);
        EXPECT_EQ(OutsideRangeText(*range, ','), "mimo kalibrovaný rozsah −20,50 až 141,50 °C");
        EXPECT_EQ(OutsideRangeText(*range), "mimo kalibrovaný rozsah −20.50 až 141.50 °C");
        for (const std::int32_t inside : {10000, 10001, 40000, 74799, 74800}) {
            EXPECT_FALSE(ExtrapolationHint(set, s, inside, ',')) << inside;
        }
        for (const std::int32_t outside : {-5, 0, 9999, 74801, 99999}) {
            EXPECT_EQ(ExtrapolationHint(set, s, outside, ','), OutsideRangeText(*range, ','))
                << outside;
        }
    }
}

// No range, so no hint: a sensor without a calibration in force (the
// Calibrated flag alone does not make one), one calibrated without points,
// a cubic that faults at an end, a sensor number outside 1..3. A damaged
// Count above 30 takes the 30 slots.
TEST(CalibratedRange, NoneWithoutACalibrationItsPointsOrAFiniteEnd) {
    SensorParamSet set;
    Calibrate(set, 1, 0, 0, {1000, 2000, 3000, 4000});
    EXPECT_FALSE(CalibratedRangeOf(set, 1));
    EXPECT_FALSE(ExtrapolationHint(set, 1, 99999));

    Calibrate(set, 2, 0.01, 0, {});
    EXPECT_FALSE(CalibratedRangeOf(set, 2));
    EXPECT_FALSE(ExtrapolationHint(set, 2, 99999));

    Calibrate(set, 3, 0, 0, {1000, 2000, 99999});
    set.Coefficients.A3(3) = 1e300;
    EXPECT_FALSE(CalibratedRangeOf(set, 3));
    EXPECT_FALSE(CalibratedRangeOf(set, 0));
    EXPECT_FALSE(CalibratedRangeOf(set, 4));

    set.Coefficients.A3(3) = 0;
    set.Coefficients.A1(3) = 0.01;
    for (int k = 4; k <= SensorParamSet::Points; ++k) {
        set.Raw(3, k) = 1000 + k;
    }
    set.Count(3) = 200;
    const std::optional<CalibratedRange> range = CalibratedRangeOf(set, 3);
    ASSERT_TRUE(range);
    EXPECT_EQ(range->LowestRaw, 1000);
    EXPECT_EQ(range->HighestRaw, 99999);
}

// Over random cubics and point sets: the range spans exactly the raw
// readings of points 1..Count (slots beyond Count do not count), and each
// end of the hint reads as the main window shows a reading at that end.
TEST(CalibratedRange, EndsReadAsTheMainWindowShowsTheEndReadings) {
    std::mt19937 random(19);
    std::uniform_int_distribution<std::int32_t> raw(0, 99999);
    std::uniform_int_distribution<int> count(1, SensorParamSet::Points);
    std::uniform_real_distribution<double> unit(-1, 1);
    for (int run = 0; run < 2000; ++run) {
        SCOPED_TRACE(run);
        SensorParamSet set;
        const int s = 1 + run % 3;
        const int n = count(random);
        for (int k = 1; k <= SensorParamSet::Points; ++k) {
            set.Raw(s, k) = raw(random);
        }
        set.Count(s) = static_cast<std::uint8_t>(n);
        set.Coefficients.A3(s) = unit(random) * 1e-13;
        set.Coefficients.A2(s) = unit(random) * 1e-8;
        set.Coefficients.A1(s) = unit(random) * 0.01;
        set.Coefficients.A0(s) = unit(random) * 200;
        std::vector<std::int32_t> points;
        for (int k = 1; k <= n; ++k) {
            points.push_back(set.Raw(s, k));
        }
        const std::optional<CalibratedRange> range = CalibratedRangeOf(set, s);
        ASSERT_TRUE(range);
        EXPECT_EQ(range->LowestRaw, *std::min_element(points.begin(), points.end()));
        EXPECT_EQ(range->HighestRaw, *std::max_element(points.begin(), points.end()));
        EXPECT_LE(range->Lower, range->Upper);

        std::string low = CelsiusText(set, range->LowestRaw, s, ',');
        std::string high = CelsiusText(set, range->HighestRaw, s, ',');
        if (std::stod(CelsiusText(set, range->LowestRaw, s)) >
            std::stod(CelsiusText(set, range->HighestRaw, s))) {
            std::swap(low, high);
        }
        for (std::string* end : {&low, &high}) {
            if (end->front() == '-') {
                end->replace(0, 1, "−");
            }
        }
        EXPECT_EQ(OutsideRangeText(*range, ','),
                  "mimo kalibrovaný rozsah " + low + " až " + high + " °C");
    }
}

} // namespace
} // namespace zorm
