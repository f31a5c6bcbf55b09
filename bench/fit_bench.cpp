// fit_bench: what the regression step's arithmetic costs the calibration
// window: the cubic fit over 29 points (the most a collection completes),
// the texts of its report (29 fitted values and deviations, the largest
// deviation) and the polynomial line, timed together run by run.
//
//     fit_bench [--runs N]     (default 20000)

#include "bench/quantile.h"
#include "bench/runs_argument.h"
#include "data/calibration.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Us = std::chrono::duration<double, std::micro>;
using zorm::bench::Quantile;

constexpr int Points = 29;
constexpr int WarmUp = 1000;

// A Pt100-like sensor over the converter's range, -200 to 850 °C, read at
// 29 points, each reading and each typed temperature a little off the curve.
zorm::SensorParamSet Calibration() {
    zorm::SensorParamSet params;
    for (int k = 1; k <= Points; ++k) {
        const std::int32_t raw = 2000 + (k - 1) * 3400 + (k * 37) % 11;
        const double x = raw;
        params.Raw(1, k) = raw;
        params.TrueTemp(1, k) = static_cast<float>(2e-15 * x * x * x + 1.1e-9 * x * x + 0.0103 * x -
                                                   221.7 + 0.01 * ((k * 7) % 5 - 2));
    }
    params.Count(1) = Points;
    return params;
}

int Usage() {
    std::fprintf(stderr, "usage: fit_bench [--runs N]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    const std::optional<int> runArgument = zorm::bench::RunsArgument(argc, argv, 20000);
    if (!runArgument) {
        return Usage();
    }
    const int runs = *runArgument;

    zorm::SensorParamSet params = Calibration();
    std::vector<double> us;
    std::vector<double> fitUs;
    us.reserve(static_cast<std::size_t>(runs));
    fitUs.reserve(static_cast<std::size_t>(runs));
    std::string line;
    zorm::FitReport report;
    for (int i = -WarmUp; i < runs; ++i) {
        const auto start = Clock::now();
        const auto cubic = zorm::FitCubic(params, 1, Points);
        const auto fitted = Clock::now();
        if (!cubic) {
            std::fprintf(stderr, "fit_bench: the fit failed\n");
            return 1;
        }
        params.Coefficients.A3(1) = cubic->A3;
        params.Coefficients.A2(1) = cubic->A2;
        params.Coefficients.A1(1) = cubic->A1;
        params.Coefficients.A0(1) = cubic->A0;
        report = zorm::MakeFitReport(params, 1, Points, ',');
        line = zorm::PolynomialLine(*cubic, ',');
        const auto stop = Clock::now();
        if (report.Faulted || report.Rows.size() != Points) {
            std::fprintf(stderr, "fit_bench: the report faulted\n");
            return 1;
        }
        if (i >= 0) {
            us.push_back(Us(stop - start).count());
            fitUs.push_back(Us(fitted - start).count());
        }
    }
    std::sort(us.begin(), us.end());
    std::sort(fitUs.begin(), fitUs.end());

    const double median = Quantile(us, 0.5);
    const double p99 = Quantile(us, 0.99);
    std::printf("FitCubic + MakeFitReport + PolynomialLine, %d points, %d runs (after %d "
                "unmeasured)\n",
                Points, runs, WarmUp);
    std::printf("median %.2f us, p99 %.2f us, max %.1f us\n", median, p99, us.back());
    std::printf("of which FitCubic: median %.2f us, p99 %.2f us\n", Quantile(fitUs, 0.5),
                Quantile(fitUs, 0.99));
    std::printf("%s\nlargest deviation %s\n", line.c_str(), report.MaxDeviation.c_str());
    std::printf("target (median <= 20 us): %s\n", median <= 20 ? "met" : "NOT met");
    return 0;
}
