// Whether the reading of the sensor being calibrated has settled: the
// statistics of the readings of the last W seconds and the verdict the
// calibration assistant shows before a point is taken. Pure functions; like
// the fit they compute to nearest whatever the caller's floating-point
// environment, and leave it as it was.
#pragma once

#include "data/calibration.h"

#include <cstdint>
#include <optional>
#include <span>

namespace zorm {

// The calibration window reads the sensor this often.
inline constexpr double ReadingTickSeconds = 0.333;
// How far the readings may fall short of either end of the window and still
// count as covering it: three ticks, so that a tick delayed by the main
// window's measurement or a failed reading or two do not matter.
inline constexpr double StabilityGapSeconds = 1.0;

struct TimedReading {
    double Seconds = 0; // on any clock that does not jump, e.g. since the collection began
    std::int32_t Raw = 0;
};

// The readings of a window in one unit (bits, or °C through a cubic).
struct WindowStatistics {
    int Count = 0;
    double Mean = 0;
    double StandardDeviation = 0; // of the sample, n - 1
    double PeakToPeak = 0;        // largest minus smallest
    double SlopePerMinute = 0;    // least-squares line over time
};

// Stable when both the slope (either sign) and the standard deviation are
// within these limits; exactly at a limit is within it.
struct StabilityLimits {
    double SlopePerMinute = 0;
    double StandardDeviation = 0;

    bool operator==(const StabilityLimits&) const = default;
};

// The window W that an operator may choose, in whole seconds.
inline constexpr int ShortestStabilityWindow = 10;
inline constexpr int LongestStabilityWindow = 300;

struct StabilitySettings {
    double WindowSeconds = 30;
    StabilityLimits Celsius{0.01, 0.005}; // with a calibration in force
    StabilityLimits Bits{2, 1};           // without one

    bool operator==(const StabilitySettings&) const = default;
};

enum class Stability { TooFewData, Unstable, Stable };
// "málo dat", "nestabilní", "stabilní".
const char* StabilityText(Stability stability);

struct StabilityJudgement {
    // The readings of the window, once there are two at different times.
    std::optional<WindowStatistics> Bits;
    // The same readings through the cubic in force, when there is one and it
    // gives a finite temperature for every one of them.
    std::optional<WindowStatistics> Celsius;
    Stability Verdict = Stability::TooFewData;
};

// Judges the readings taken in the window [now - W, now] (readings outside it
// are left out, so the caller may pass a longer history, in any order). With
// a cubic in force the verdict is taken in °C against the Celsius limits,
// otherwise (also when the cubic fails for a reading, which only a damaged
// set can do) in bits against the Bits limits.
//
// "málo dat" until the readings cover the window: fewer than three readings
// or fewer than half of those the tick takes in W, or the oldest reading
// in the window more than StabilityGapSeconds after its start (a collection
// that began less than W ago, a window just made longer), or the newest more
// than StabilityGapSeconds before `now` (the readings have stopped coming,
// as when the converter no longer answers).
StabilityJudgement JudgeStability(std::span<const TimedReading> readings, double now,
                                  const StabilitySettings& settings,
                                  const std::optional<Cubic>& inForce);

// The stability with which a calibration point was taken: the judgement of
// the window at the moment "Zapiš teplotu" fixed its raw reading, and the
// window and limits it was judged by.
struct PointStability {
    StabilityJudgement Judgement;
    StabilitySettings Settings;
};

} // namespace zorm
