// The edges of the statistics that the random cases of statistics_oracle.py
// do not reach, and properties that also run where that oracle cannot (the
// Windows build under Wine).
#include "data/fit_statistics.h"
#include "data/reading_stability.h"

#include "tests/support/caller_environment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <random>
#include <vector>

namespace zorm {
namespace {

using Points = std::vector<CalibrationPoint>;
using test::CallerEnvironment;

TEST(FitStatistics, AFaultedRowSpoilsOnlyItsOwnDeviation) {
    // Raw 99999 makes 1e40 of this cubic, a deviation no single holds.
    const Points points = {{0, 1}, {99999, 2}, {1, 3}, {2, 4}, {3, 5}};
    const std::vector<FitDeviation> rows = FitDeviations({1e25, 0, 0, 0}, points);
    ASSERT_EQ(rows.size(), 5U);
    EXPECT_TRUE(rows[1].Faulted);
    EXPECT_FALSE(rows[0].Faulted || rows[2].Faulted || rows[4].Faulted);
    EXPECT_EQ(rows[2].Deviation, 1e25F - 3);
    EXPECT_FALSE(LargestDeviation(rows));
    EXPECT_FALSE(ResidualStandardDeviation(rows));
    const auto asFound = AsFoundDeviations({1e25, 0, 0, 0}, points);
    EXPECT_FALSE(asFound[1]);
    EXPECT_EQ(asFound[2], 3 - 1e25F);
    EXPECT_FALSE(EstimateUncertainty(points, {1e25, 0, 0, 0}, 0.02));
}

TEST(FitStatistics, APointStandsOutOfTheScatterOfTheOthers) {
    // Eight points on a line, scattered by 0.01 °C, point 3 off by 0.2 °C.
    Points points;
    for (int k = 0; k < 8; ++k) {
        const float scatter = (k % 2 ? 0.01F : -0.01F) + (k == 2 ? 0.2F : 0);
        points.push_back({10000 + 7000 * k, static_cast<float>(0.01 * 7000 * k) + scatter});
    }
    const std::optional<Cubic> cubic = FitCubic(points);
    ASSERT_TRUE(cubic);
    const std::vector<Outlier> outliers = FindOutliers(points, *cubic);
    ASSERT_EQ(outliers.size(), 1U);
    EXPECT_EQ(outliers[0].Point, 3);
    EXPECT_LT(outliers[0].Ratio, -5); // computed minus true: typed too high
    // Against the s of all eight, its deviation is only about 2 s.
    const std::vector<FitDeviation> rows = FitDeviations(*cubic, points);
    EXPECT_LT(std::fabs(rows[2].Deviation) / *ResidualStandardDeviation(rows), 3);
    // Five points: the others leave no scatter to measure by.
    points.resize(5);
    EXPECT_TRUE(FindOutliers(points, *FitCubic(points)).empty());
    EXPECT_EQ(OutlierLine({7, 5.2}, ','), "bod 7: odchylka 5,2 s");
}

TEST(FitStatistics, UncertaintyIsRoundedUpToTwoDigits) {
    struct Case {
        double u;
        double stated;
        const char* text;
    };
    const Case cases[] = {{0.012, 0.012, "0,012"},
                          {0.0121, 0.013, "0,013"},
                          {0.01200000001, 0.013, "0,013"},
                          {0.012000000000001, 0.012, "0,012"},
                          {0.0991, 0.1, "0,10"},
                          {1.01, 1.1, "1,1"},
                          {9.91, 10, "10"},
                          {123, 130, "130"},
                          {1.5e-7, 1.5e-7, "0,00000015"},
                          {0, 0, "0"}};
    for (const Case& c : cases) {
        EXPECT_EQ(RoundUpToTwoDigits(c.u), c.stated) << c.u;
        EXPECT_EQ(UncertaintyText(c.u, ','), c.text) << c.u;
    }
    EXPECT_EQ(UncertaintyText(0.0121), "0.013");
    EXPECT_EQ(UncertaintyText(HUGE_VAL), "INF");
    EXPECT_TRUE(std::isnan(RoundUpToTwoDigits(std::nan(""))));
}

TEST(FitStatistics, UncertaintyNeedsAReferenceAndFourDistinctReadings) {
    const Points points = {{30000, 20}, {10000, 0}, {60000, 50}, {90000, 80}};
    const Cubic cubic = *FitCubic(points);
    EXPECT_EQ(EstimateUncertainty(points, cubic, 0.012)->Expanded, 0.012);
    for (const double reference : {-0.01, std::nan(""), HUGE_VAL}) {
        EXPECT_FALSE(EstimateUncertainty(points, cubic, reference));
    }
    EXPECT_FALSE(CurveLeverage::Of(Points{{1, 0}, {2, 0}, {3, 0}, {3, 1}, {1, 1}}));
    EXPECT_TRUE(CurveLeverage::Of(Points{{1, 0}, {2, 0}, {3, 0}, {4, 1}}));
}

// q depends only on where the readings lie against each other; and its
// largest value is no smaller than on a fine grid, also where the points
// crowd at the ends and the largest lies inside.
TEST(FitStatistics, CurveLeverageWhereverTheReadingsLie) {
    std::mt19937 random(18);
    std::uniform_int_distribution<int> raw(8000, 70000);
    std::uniform_int_distribution<int> count(5, 29);
    int inside = 0;
    for (int set = 0; set < 60; ++set) {
        Points points;
        Points shifted;
        for (int k = count(random); k > 0; --k) {
            const int x = set % 2 ? raw(random) : (k % 2 ? 8000 : 69000) + raw(random) % 500;
            points.push_back({x, 0});
            shifted.push_back({x + 1000000, 0});
        }
        const auto q = CurveLeverage::Of(points);
        const auto far = CurveLeverage::Of(shifted);
        ASSERT_TRUE(q && far);
        const auto [lo, hi] = std::minmax_element(points.begin(), points.end(),
                                                  [](auto& a, auto& b) { return a.Raw < b.Raw; });
        double grid = 0;
        for (int i = 0; i <= 500; ++i) {
            const double x = lo->Raw + (hi->Raw - lo->Raw) * (i / 500.0);
            EXPECT_NEAR(far->At(x + 1000000), q->At(x), 1e-9 * q->At(x));
            grid = std::max(grid, q->At(x));
        }
        const CurveLeverage::Peak peak = q->Largest();
        EXPECT_NEAR(far->Largest().Value, peak.Value, 1e-9 * peak.Value);
        EXPECT_GE(peak.Value, grid * (1 - 1e-12));
        inside += peak.Raw > lo->Raw && peak.Raw < hi->Raw ? 1 : 0;
    }
    EXPECT_GT(inside, 10);
}

// ---------------------------------------------------------------------------

// Readings every `tick` seconds from `first` to `last`, rising by `perTick`
// bits a tick with a scatter of +-1 bit.
std::vector<TimedReading> Rising(double first, double last, double perTick,
                                 double tick = ReadingTickSeconds) {
    std::vector<TimedReading> readings;
    for (int k = 0; first + k * tick <= last; ++k) {
        readings.push_back({first + k * tick, 20000 + static_cast<int>(perTick * k) + k % 3 - 1});
    }
    return readings;
}

// Stable exactly at both limits and unstable a hair beyond either, in bits
// and in °C, also through a cubic whose temperature falls as the reading
// rises (its slope counts by its size).
TEST(ReadingStability, VerdictAtTheLimits) {
    const std::vector<TimedReading> readings = Rising(0, 30, 0.1);
    for (const std::optional<Cubic> cubic :
         {std::optional<Cubic>{}, std::optional<Cubic>{{0, 1e-9, 0.01, -200}},
          std::optional<Cubic>{{0, -1e-9, -0.01, 400}}}) {
        StabilitySettings settings;
        const StabilityJudgement j = JudgeStability(readings, 30, settings, cubic);
        ASSERT_TRUE(j.Bits);
        ASSERT_EQ(j.Celsius.has_value(), cubic.has_value());
        const WindowStatistics& s = cubic ? *j.Celsius : *j.Bits;
        EXPECT_GT(s.StandardDeviation, 0);
        EXPECT_GT(s.PeakToPeak, 0);
        EXPECT_EQ(s.SlopePerMinute < 0, cubic && cubic->A1 < 0);
        StabilityLimits& limits = cubic ? settings.Celsius : settings.Bits;
        limits = {std::fabs(s.SlopePerMinute), s.StandardDeviation};
        EXPECT_EQ(JudgeStability(readings, 30, settings, cubic).Verdict, Stability::Stable);
        limits.SlopePerMinute = std::nextafter(limits.SlopePerMinute, 0.0);
        EXPECT_EQ(JudgeStability(readings, 30, settings, cubic).Verdict, Stability::Unstable);
        limits = {std::fabs(s.SlopePerMinute), std::nextafter(s.StandardDeviation, 0.0)};
        EXPECT_EQ(JudgeStability(readings, 30, settings, cubic).Verdict, Stability::Unstable);
    }
    EXPECT_STREQ(StabilityText(Stability::Stable), "stabilní");
    EXPECT_STREQ(StabilityText(Stability::Unstable), "nestabilní");
    EXPECT_STREQ(StabilityText(Stability::TooFewData), "málo dat");
}

// "málo dat" until the readings reach within a second of both ends of the
// window and number half of what the tick takes in it.
TEST(ReadingStability, TooFewDataUntilTheWindowIsCovered) {
    const StabilitySettings settings; // 30 s
    const auto verdict = [&](const std::vector<TimedReading>& readings, double now) {
        return JudgeStability(readings, now, settings, std::nullopt).Verdict;
    };
    // The window of now = 31 starts at 1; quarter seconds are exact.
    EXPECT_EQ(verdict(Rising(2, 31, 0, 0.25), 31), Stability::Stable);
    EXPECT_EQ(verdict(Rising(std::nextafter(2.0, 3.0), 31, 0, 0.25), 31), Stability::TooFewData);
    EXPECT_EQ(verdict(Rising(1, 30, 0, 0.25), 31), Stability::Stable);
    EXPECT_EQ(verdict(Rising(1, std::nextafter(30.0, 0.0), 0, 0.25), 31), Stability::TooFewData);
    // Every other reading lost: 46 of the 91 are enough, 45 are not.
    std::vector<TimedReading> half;
    const std::vector<TimedReading> all = Rising(0, 30, 0);
    for (std::size_t k = 0; k < all.size(); k += 2) {
        half.push_back(all[k]);
    }
    ASSERT_EQ(half.size(), 46U);
    EXPECT_EQ(verdict(half, 30), Stability::Stable);
    half.erase(half.begin() + 1);
    EXPECT_EQ(verdict(half, 30), Stability::TooFewData);
    EXPECT_EQ(verdict({}, 30), Stability::TooFewData);
    EXPECT_FALSE(JudgeStability({}, 30, settings, std::nullopt).Bits);
    // A history longer than the window: the readings before it do not count.
    std::vector<TimedReading> longer = all;
    longer.insert(longer.begin(), {-5, 90000});
    EXPECT_EQ(verdict(longer, 30), Stability::Stable);
    // A cubic that fails for one reading (99999 gives 1e315) fails for all:
    // judged in bits.
    EXPECT_FALSE(FittedTemperatures({1e300, 0, 0, 0}, std::vector<std::int32_t>{0, 99999, 1}));
    EXPECT_TRUE(FittedTemperatures({1e300, 0, 0, 0}, std::vector<std::int32_t>{0, 1}));
    const StabilityJudgement j = JudgeStability(all, 30, settings, Cubic{1e300, 0, 0, 0});
    EXPECT_FALSE(j.Celsius);
    EXPECT_EQ(j.Verdict, Stability::Stable);
}

TEST_F(CallerEnvironment, StatisticsLeaveTheCallerAsItWas) {
    const Points points = {{12, -195.3F},   {20000, 0.1F}, {40000, 20},
                           {60000, 333.3F}, {80000, 500},  {99999, 999}};
    const Cubic cubic = *FitCubic(points);
    const auto u = EstimateUncertainty(points, cubic, 0.02);
    const std::vector<TimedReading> readings = Rising(0, 30, 0.5);
    const auto window = JudgeStability(readings, 30, {}, cubic);
    ASSERT_TRUE(u && window.Celsius);
    const double q = CurveLeverage::Of(points)->At(5000);
    const double expanded = ExpandedUncertainty(0.02, *u->S, q);
    for (const int mode : {FE_UPWARD, FE_DOWNWARD}) {
        std::fesetround(mode);
        std::feclearexcept(FE_ALL_EXCEPT);
        EXPECT_EQ(EstimateUncertainty(points, cubic, 0.02)->Expanded, u->Expanded);
        EXPECT_EQ(ExpandedUncertainty(0.02, *u->S, q), expanded);
        EXPECT_EQ(CurveLeverage::Of(points)->At(5000), q);
        EXPECT_EQ(JudgeStability(readings, 30, {}, cubic).Celsius->SlopePerMinute,
                  window.Celsius->SlopePerMinute);
        EXPECT_FALSE(EstimateUncertainty(points, cubic, std::nan("")));
        EXPECT_EQ(UncertaintyText(std::nan("")), "NAN");
        EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), 0);
        EXPECT_EQ(std::fegetround(), mode);
    }
}

} // namespace
} // namespace zorm
