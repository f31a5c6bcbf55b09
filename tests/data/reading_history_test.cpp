// The chart's ring of readings and its thinning to pixel columns, against a
// plain list of every sample pushed, over random series with gaps and spikes.
#include "data/reading_history.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <vector>

namespace zorm {
namespace {

constexpr float Gap = std::numeric_limits<float>::quiet_NaN();

bool SameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SameSample(const ChartSample& a, const ChartSample& b) {
    for (std::size_t k = 0; k < 3; ++k) {
        if (!SameBits(a.Raw[k], b.Raw[k]) || !SameBits(a.Celsius[k], b.Celsius[k])) {
            return false;
        }
    }
    return a.UnixMs == b.UnixMs;
}

// Samples with times rising by 0..2 s (equal times too), values that wander
// with spikes now and then, and gaps.
std::vector<ChartSample> RandomSeries(std::mt19937_64& random, std::size_t count) {
    std::uniform_int_distribution<std::int64_t> step(0, 2000);
    std::uniform_real_distribution<float> noise(-1, 1);
    std::uniform_int_distribution<int> roll(0, 99);
    std::vector<ChartSample> series;
    std::int64_t t = 1'741'940'813'589;
    std::array<float, 6> level{21500, 22500, 23500, 21.5F, 22.5F, 23.5F};
    for (std::size_t n = 0; n < count; ++n) {
        ChartSample sample;
        t += step(random);
        sample.UnixMs = t;
        for (std::size_t k = 0; k < 6; ++k) {
            level[k] += noise(random);
            const int r = roll(random);
            const float value = r < 15 ? Gap : r < 18 ? level[k] + 1000 * noise(random) : level[k];
            (k < 3 ? sample.Raw[k] : sample.Celsius[k - 3]) = value;
        }
        series.push_back(sample);
    }
    return series;
}

TEST(ReadingHistory, KeepsTheNewestSamplesInOrderUpToItsCapacity) {
    std::mt19937_64 random(3);
    for (int run = 0; run < 300; ++run) {
        const auto capacity = std::uniform_int_distribution<std::size_t>(1, 200)(random);
        const auto pushes = std::uniform_int_distribution<std::size_t>(0, 3 * capacity)(random);
        const std::vector<ChartSample> series = RandomSeries(random, pushes);
        ReadingHistory history(capacity);
        for (const ChartSample& sample : series) {
            history.Push(sample);
            ASSERT_LE(history.Size(), capacity);
        }
        ASSERT_EQ(history.Capacity(), capacity);
        ASSERT_EQ(history.Size(), std::min(capacity, pushes));
        const std::size_t dropped = pushes - history.Size();
        for (std::size_t i = 0; i < history.Size(); ++i) {
            ASSERT_TRUE(SameSample(history.At(i), series[dropped + i])) << run << " " << i;
        }
        EXPECT_THROW(history.At(history.Size()), std::out_of_range);

        // The searches against a walk through the kept samples.
        for (int query = 0; query < 50 && history.Size() > 0; ++query) {
            const std::int64_t first = history.At(0).UnixMs;
            const std::int64_t last = history.At(history.Size() - 1).UnixMs;
            const std::int64_t t =
                std::uniform_int_distribution<std::int64_t>(first - 3000, last + 3000)(random);
            std::size_t after = 0;
            while (after < history.Size() && history.At(after).UnixMs < t) {
                ++after;
            }
            ASSERT_EQ(history.FirstAtOrAfter(t), after);
            std::size_t nearest = 0;
            for (std::size_t i = 1; i < history.Size(); ++i) {
                if (std::llabs(history.At(i).UnixMs - t) <
                    std::llabs(history.At(nearest).UnixMs - t)) {
                    nearest = i;
                }
            }
            ASSERT_EQ(history.Nearest(t), nearest) << t;
        }
    }
    EXPECT_EQ(ReadingHistory(5).Nearest(0), 0U);
    EXPECT_EQ(ReadingHistory(5).FirstAtOrAfter(0), 0U);
}

TEST(ReadingHistory, AClockSetBackDoesNotSendSamplesBackInTime) {
    ReadingHistory history(10);
    ChartSample sample;
    for (const std::int64_t t : {5000, 6000, 2000, 7000}) {
        sample.UnixMs = t;
        history.Push(sample);
    }
    EXPECT_EQ(history.At(2).UnixMs, 6000);
    EXPECT_EQ(history.At(3).UnixMs, 7000);
}

TEST(ReadingHistory, SamplesHoldWhatThePassGave) {
    MeasurementPass pass;
    pass.UnixMs = 42;
    pass.Sensors[0] = {SensorOutcome::Measured, 21500, true, 21.5F};
    pass.Sensors[1] = {SensorOutcome::Measured, 22500, false, 0};
    pass.Sensors[2] = {SensorOutcome::Failed, 0, false, 0};
    const ChartSample sample = SampleOf(pass);
    EXPECT_EQ(sample.UnixMs, 42);
    EXPECT_EQ(ValueOf(sample, 1, ChartValue::Raw), 21500);
    EXPECT_EQ(ValueOf(sample, 1, ChartValue::Celsius), 21.5F);
    EXPECT_EQ(ValueOf(sample, 2, ChartValue::Raw), 22500);
    EXPECT_TRUE(std::isnan(ValueOf(sample, 2, ChartValue::Celsius)));
    EXPECT_TRUE(std::isnan(ValueOf(sample, 3, ChartValue::Raw)));
    EXPECT_TRUE(std::isnan(ValueOf(SampleOf(MeasurementPass{}), 1, ChartValue::Raw)));
    // A temperature the cubic wrote as INF cannot be drawn.
    pass.Sensors[0].Celsius = std::numeric_limits<float>::infinity();
    EXPECT_TRUE(std::isnan(ValueOf(SampleOf(pass), 1, ChartValue::Celsius)));
}

TEST(ReadingHistory, ThinnedTraceKeepsEveryColumnsExtremesAndBreaks) {
    std::mt19937_64 random(11);
    for (int run = 0; run < 3000; ++run) {
        const auto capacity = std::uniform_int_distribution<std::size_t>(1, 600)(random);
        const auto pushes = std::uniform_int_distribution<std::size_t>(0, 2 * capacity)(random);
        ReadingHistory history(capacity);
        for (const ChartSample& sample : RandomSeries(random, pushes)) {
            history.Push(sample);
        }
        if (history.Size() == 0) {
            EXPECT_TRUE(ThinTrace(history, 1, ChartValue::Raw, 0, 1000, 10).empty());
            continue;
        }
        const int sensor = std::uniform_int_distribution<int>(1, 3)(random);
        const ChartValue kind = run % 2 == 0 ? ChartValue::Raw : ChartValue::Celsius;
        const std::int64_t first = history.At(0).UnixMs;
        const std::int64_t last = history.At(history.Size() - 1).UnixMs;
        std::uniform_int_distribution<std::int64_t> moment(first - 5000, last + 5000);
        std::int64_t from = moment(random);
        std::int64_t to = moment(random);
        if (to < from) {
            std::swap(from, to);
        }
        const int columns = std::uniform_int_distribution<int>(1, 400)(random);
        SCOPED_TRACE(testing::Message() << "run " << run << ", " << columns << " columns");

        const std::vector<TracePoint> points = ThinTrace(history, sensor, kind, from, to, columns);
        ASSERT_LE(points.size(), 2U * static_cast<std::size_t>(columns));

        // Each column's samples with a value, and whether a sample without
        // one came before them since the previous column's values.
        struct Column {
            std::vector<TracePoint> Samples;
            bool Broken = false;
        };
        std::map<std::int64_t, Column> expected;
        bool broken = true;
        const auto columnOf = [&](std::int64_t t) {
            return to == from
                       ? 0
                       : std::min<std::int64_t>(columns - 1, (t - from) * columns / (to - from));
        };
        for (std::size_t i = 0; i < history.Size(); ++i) {
            const ChartSample& sample = history.At(i);
            if (sample.UnixMs < from || sample.UnixMs > to) {
                continue;
            }
            const float v = ValueOf(sample, sensor, kind);
            if (std::isnan(v)) {
                broken = true;
                continue;
            }
            Column& column = expected[columnOf(sample.UnixMs)];
            if (column.Samples.empty()) {
                column.Broken = broken;
            }
            column.Samples.push_back({sample.UnixMs, v, false});
            broken = false;
        }

        std::map<std::int64_t, std::vector<TracePoint>> drawn;
        for (std::size_t p = 0; p < points.size(); ++p) {
            if (p > 0) {
                ASSERT_GE(points[p].UnixMs, points[p - 1].UnixMs);
            }
            drawn[columnOf(points[p].UnixMs)].push_back(points[p]);
        }
        ASSERT_EQ(drawn.size(), expected.size());
        for (const auto& [c, column] : expected) {
            const std::vector<TracePoint>& shown = drawn[c];
            ASSERT_FALSE(shown.empty()) << "column " << c;
            ASSERT_LE(shown.size(), 2U);
            float low = shown.front().Value;
            float high = shown.front().Value;
            for (const TracePoint& point : shown) {
                low = std::min(low, point.Value);
                high = std::max(high, point.Value);
                // Drawn points are samples of their column.
                ASSERT_NE(std::find_if(column.Samples.begin(), column.Samples.end(),
                                       [&](const TracePoint& s) {
                                           return s.UnixMs == point.UnixMs &&
                                                  s.Value == point.Value;
                                       }),
                          column.Samples.end());
            }
            // The drawn envelope holds every sample of the column, spikes too.
            for (const TracePoint& sample : column.Samples) {
                ASSERT_GE(sample.Value, low) << "column " << c;
                ASSERT_LE(sample.Value, high) << "column " << c;
            }
            EXPECT_EQ(shown.front().StartsLine, column.Broken) << "column " << c;
            if (shown.size() == 2) {
                EXPECT_FALSE(shown.back().StartsLine);
            }
        }
    }
}

} // namespace
} // namespace zorm
