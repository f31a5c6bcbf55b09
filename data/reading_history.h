// The readings the chart draws: the last passes of the main window in a ring
// of fixed size, and their thinning to the columns of the chart.
#pragma once

#include "data/measurement_log.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zorm {

// One pass as the chart keeps it. A value that is not finite (NaN) means
// that the sensor gave none: not measured, failed, or, for the temperature,
// no calibration or a faulted cubic.
struct ChartSample {
    std::int64_t UnixMs = 0;
    std::array<float, SensorParamSet::Sensors> Raw{};
    std::array<float, SensorParamSet::Sensors> Celsius{};
};

ChartSample SampleOf(const MeasurementPass& pass);

enum class ChartValue { Raw, Celsius };

// The value of sensor 1..3 in `sample`, NaN when it has none.
float ValueOf(const ChartSample& sample, int sensor, ChartValue kind);

class ReadingHistory {
public:
    // A day at the shortest period (86 400 passes of 1 s) and an hour to spare
    // for single measurements in between: 2.9 MB.
    static constexpr std::size_t DefaultCapacity = 90'000;

    explicit ReadingHistory(std::size_t capacity = DefaultCapacity);

    // Adds the newest sample; when full, the oldest goes. Times never go
    // back: a sample stamped before the newest one (the clock was set back)
    // is kept at the newest one's time.
    void Push(ChartSample sample);

    std::size_t Size() const { return size_; }
    std::size_t Capacity() const { return samples_.size(); }
    // Sample i, the oldest being 0.
    const ChartSample& At(std::size_t i) const;

    // The first sample at or after `unixMs`, Size() when there is none.
    std::size_t FirstAtOrAfter(std::int64_t unixMs) const;
    // The sample nearest to `unixMs`, the oldest of several as near; Size()
    // when the history is empty.
    std::size_t Nearest(std::int64_t unixMs) const;

    // Calls `visit(sample)` for the samples from `first` on, oldest first,
    // until it returns false.
    template <typename Visit> void VisitFrom(std::size_t first, Visit visit) const {
        const std::size_t capacity = samples_.size();
        for (std::size_t i = first; i < size_;) {
            const std::size_t at = (first_ + i) % capacity;
            const std::size_t run = std::min(size_ - i, capacity - at);
            for (const ChartSample* sample = &samples_[at]; sample != &samples_[at] + run;
                 ++sample) {
                if (!visit(*sample)) {
                    return;
                }
            }
            i += run;
        }
    }

private:
    std::vector<ChartSample> samples_;
    std::size_t first_ = 0;
    std::size_t size_ = 0;
};

struct TracePoint {
    std::int64_t UnixMs = 0;
    float Value = 0.0F;
    // The line starts here instead of coming from the point before: the
    // sensor gave no value in between.
    bool StartsLine = false;

    bool operator==(const TracePoint&) const = default;
};

// The values of sensor 1..3 between `fromMs` and `toMs` (both included),
// thinned for a chart `columns` pixels wide: of each column's values the
// smallest and the largest, in their order in time (one point when they are
// the same sample), so that every spike stays visible and at most
// 2 x columns points are drawn. A sample without a value breaks the line
// when it lies between two columns' values; inside one column it cannot be
// seen and the column is drawn whole.
std::vector<TracePoint> ThinTrace(const ReadingHistory& history, int sensor, ChartValue kind,
                                  std::int64_t fromMs, std::int64_t toMs, int columns);

} // namespace zorm
