// statistics_bench: what the calibration assistant's arithmetic costs: the
// stability of a 300 s window (900 readings of the 333 ms tick) through a
// cubic in force, as one tick of the assistant computes it, and the largest
// expanded uncertainty of a 29-point fit, as the certificate computes it.
// Each is timed run by run.
//
//     statistics_bench [--runs N]     (default 20000)

#include "bench/quantile.h"
#include "bench/runs_option.h"
#include "data/fit_statistics.h"
#include "data/reading_stability.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Us = std::chrono::duration<double, std::micro>;
using zorm::bench::Quantile;

constexpr int WarmUp = 1000;

// The Pt100-like sensor of fit_bench: 29 points over the converter's range,
// each a little off the curve.
std::vector<zorm::CalibrationPoint> Points() {
    std::vector<zorm::CalibrationPoint> points;
    for (int k = 1; k <= 29; ++k) {
        const std::int32_t raw = 2000 + (k - 1) * 3400 + (k * 37) % 11;
        const double x = raw;
        points.push_back({raw, static_cast<float>(2e-15 * x * x * x + 1.1e-9 * x * x + 0.0103 * x -
                                                  221.7 + 0.01 * ((k * 7) % 5 - 2))});
    }
    return points;
}

// A bath settling: 900 readings drifting by a bit a minute with a bit of
// scatter.
std::vector<zorm::TimedReading> Readings() {
    std::vector<zorm::TimedReading> readings;
    for (int k = 0; k < 900; ++k) {
        const double t = 100 + k * zorm::ReadingTickSeconds;
        readings.push_back({t, 30000 + static_cast<int>(t / 60) + (k * 7) % 3 - 1});
    }
    return readings;
}

void Print(const char* what, std::vector<double>& us) {
    std::sort(us.begin(), us.end());
    std::printf("%s: median %.2f us, p99 %.2f us, max %.1f us\n", what, Quantile(us, 0.5),
                Quantile(us, 0.99), us.back());
}

} // namespace

int main(int argc, char** argv) {
    const std::optional<int> option = zorm::bench::RunsOption(argc, argv, 20000);
    if (!option) {
        std::fprintf(stderr, "usage: statistics_bench [--runs N]\n");
        return 2;
    }
    const int runs = *option;

    const std::vector<zorm::CalibrationPoint> points = Points();
    const std::optional<zorm::Cubic> cubic = zorm::FitCubic(points);
    const std::vector<zorm::TimedReading> readings = Readings();
    const double now = readings.back().Seconds;
    zorm::StabilitySettings settings;
    settings.WindowSeconds = 300;
    if (!cubic) {
        std::fprintf(stderr, "statistics_bench: the fit failed\n");
        return 1;
    }
    std::vector<double> stabilityUs;
    std::vector<double> uncertaintyUs;
    zorm::StabilityJudgement judgement;
    std::optional<zorm::FitUncertainty> u;
    for (int i = -WarmUp; i < runs; ++i) {
        const auto start = Clock::now();
        judgement = zorm::JudgeStability(readings, now, settings, cubic);
        const auto judged = Clock::now();
        u = zorm::EstimateUncertainty(points, *cubic, 0.02);
        const auto stop = Clock::now();
        if (!judgement.Celsius || judgement.Celsius->Count != 900 || !u) {
            std::fprintf(stderr, "statistics_bench: no statistics\n");
            return 1;
        }
        if (i >= 0) {
            stabilityUs.push_back(Us(judged - start).count());
            uncertaintyUs.push_back(Us(stop - judged).count());
        }
    }
    std::printf("%d runs (after %d unmeasured)\n", runs, WarmUp);
    Print("JudgeStability, 900 readings through the cubic", stabilityUs);
    Print("EstimateUncertainty, 29 points", uncertaintyUs);
    std::printf("window: %s, slope %.4f °C/min, s.d. %.4f °C; U = %s °C (%.6f) at raw %.0f\n",
                zorm::StabilityText(judgement.Verdict), judgement.Celsius->SlopePerMinute,
                judgement.Celsius->StandardDeviation, zorm::UncertaintyText(u->Stated).c_str(),
                u->Expanded, u->AtRaw);
    const double median = Quantile(stabilityUs, 0.5);
    std::printf("target (stability median <= 1000 us): %s\n", median <= 1000 ? "met" : "NOT met");
    return 0;
}
