#include "data/reading_history.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace zorm {

namespace {

constexpr float NoValue = std::numeric_limits<float>::quiet_NaN();

// A value of one column and the sample it came from, by its place in time.
struct Extreme {
    std::int64_t UnixMs = 0;
    float Value = 0.0F;
    std::size_t Order = 0;
};

struct ColumnGroup {
    Extreme Min;
    Extreme Max;
    bool StartsLine = false;
};

} // namespace

ChartSample SampleOf(const MeasurementPass& pass) {
    ChartSample sample;
    sample.UnixMs = pass.UnixMs;
    for (std::size_t k = 0; k < pass.Sensors.size(); ++k) {
        const SensorReading& reading = pass.Sensors[k];
        const bool measured = reading.Outcome == SensorOutcome::Measured;
        sample.Raw[k] = measured ? static_cast<float>(reading.Raw) : NoValue;
        sample.Celsius[k] = measured && reading.HasCelsius ? reading.Celsius : NoValue;
    }
    return sample;
}

float ValueOf(const ChartSample& sample, int sensor, ChartValue kind) {
    const auto k = static_cast<std::size_t>(sensor - 1);
    const float value = kind == ChartValue::Raw ? sample.Raw.at(k) : sample.Celsius.at(k);
    return std::isfinite(value) ? value : NoValue;
}

ReadingHistory::ReadingHistory(std::size_t capacity)
    : samples_(std::max<std::size_t>(capacity, 1)) {}

void ReadingHistory::Push(ChartSample sample) {
    if (size_ > 0) {
        sample.UnixMs = std::max(sample.UnixMs, At(size_ - 1).UnixMs);
    }
    if (size_ < samples_.size()) {
        samples_[(first_ + size_) % samples_.size()] = sample;
        ++size_;
    } else {
        samples_[first_] = sample;
        first_ = (first_ + 1) % samples_.size();
    }
}

const ChartSample& ReadingHistory::At(std::size_t i) const {
    if (i >= size_) {
        throw std::out_of_range("ReadingHistory::At");
    }
    return samples_[(first_ + i) % samples_.size()];
}

std::size_t ReadingHistory::FirstAtOrAfter(std::int64_t unixMs) const {
    std::size_t low = 0;
    std::size_t high = size_;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (At(middle).UnixMs < unixMs) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

std::size_t ReadingHistory::Nearest(std::int64_t unixMs) const {
    const std::size_t after = FirstAtOrAfter(unixMs);
    if (after == 0) {
        return after;
    }
    // The first of the samples that share the time before `unixMs`.
    const std::size_t before = FirstAtOrAfter(At(after - 1).UnixMs);
    if (after == size_ || unixMs - At(before).UnixMs <= At(after).UnixMs - unixMs) {
        return before;
    }
    return after;
}

std::vector<TracePoint> ThinTrace(const ReadingHistory& history, int sensor, ChartValue kind,
                                  std::int64_t fromMs, std::int64_t toMs, int columns) {
    std::vector<TracePoint> points;
    if (toMs < fromMs || columns < 1 || sensor < 1 || sensor > SensorParamSet::Sensors) {
        return points;
    }
    const std::int64_t span = toMs - fromMs;
    const auto k = static_cast<std::size_t>(sensor - 1);
    const auto flush = [&points](const ColumnGroup& group) {
        const bool minFirst = group.Min.Order <= group.Max.Order;
        const Extreme& first = minFirst ? group.Min : group.Max;
        const Extreme& last = minFirst ? group.Max : group.Min;
        points.push_back({first.UnixMs, first.Value, group.StartsLine});
        if (last.Order != first.Order) {
            points.push_back({last.UnixMs, last.Value, false});
        }
    };

    // Column c holds the times t with (t - fromMs) * columns / span == c
    // (rounded down; `toMs` in the last one). The samples come in time order,
    // so the division runs once per column: the next column starts at
    // fromMs + ceil((c + 1) * span / columns).
    std::int64_t column = -1;
    std::int64_t nextColumnAt = std::numeric_limits<std::int64_t>::min();
    ColumnGroup group;
    bool broken = true;
    std::size_t order = 0;
    history.VisitFrom(history.FirstAtOrAfter(fromMs), [&](const ChartSample& sample) {
        if (sample.UnixMs > toMs) {
            return false;
        }
        const float v = kind == ChartValue::Raw ? sample.Raw[k] : sample.Celsius[k];
        const Extreme here{sample.UnixMs, v, order++};
        if (!std::isfinite(v)) {
            broken = true;
            return true;
        }
        if (sample.UnixMs >= nextColumnAt) {
            if (column >= 0) {
                flush(group);
            }
            column = span == 0 ? 0
                               : std::min<std::int64_t>(columns - 1,
                                                        (sample.UnixMs - fromMs) * columns / span);
            nextColumnAt = column + 1 >= columns
                               ? std::numeric_limits<std::int64_t>::max()
                               : fromMs + ((column + 1) * span + columns - 1) / columns;
            group = {here, here, broken};
        } else if (v < group.Min.Value) {
            group.Min = here;
        } else if (v > group.Max.Value) {
            group.Max = here;
        }
        broken = false;
        return true;
    });
    if (column >= 0) {
        flush(group);
    }
    return points;
}

} // namespace zorm
