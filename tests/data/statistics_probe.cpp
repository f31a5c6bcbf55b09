// statistics_probe: the program's statistics for statistics_oracle.py. One
// case a line on stdin; its answer on stdout, numbers as exact hexadecimal
// floating-point texts ("nan" for nothing), texts with a decimal comma, and
// a line "end".
//
//   uncertainty UREF N RAW TEMP ... M X ...
//       cubic / rows (fitted, deviation) / s / q at each X, largest q, where /
//       degrees of freedom, s, U, where, stated / stated text
//   asfound A3 A2 A1 A0 N RAW TEMP ...      the deviations
//   outliers N RAW TEMP ...                 cubic / point, ratio, line ...
//   stability NOW W CS CD BS BD A3 A2 A1 A0 N T RAW ...    (A3 "nan": no cubic)
//       bits / celsius (count, mean, s.d., peak to peak, slope) / verdict

#include "data/fit_statistics.h"
#include "data/reading_stability.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace zorm;

double Number(std::istream& in) {
    std::string text;
    in >> text;
    return std::strtod(text.c_str(), nullptr);
}

std::vector<CalibrationPoint> Points(std::istream& in) {
    std::vector<CalibrationPoint> points(static_cast<std::size_t>(Number(in)));
    for (CalibrationPoint& p : points) {
        p.Raw = static_cast<std::int32_t>(Number(in));
        p.TrueTemp = static_cast<float>(Number(in));
    }
    return points;
}

Cubic CubicFrom(std::istream& in) {
    const double a3 = Number(in);
    const double a2 = Number(in);
    const double a1 = Number(in);
    return {a3, a2, a1, Number(in)};
}

void Print(std::initializer_list<std::optional<double>> values, const char* end = "\n") {
    for (const std::optional<double>& v : values) {
        std::printf(" %a", v.value_or(NAN));
    }
    std::printf("%s", end);
}

void Uncertainty(std::istream& in) {
    const double reference = Number(in);
    const std::vector<CalibrationPoint> points = Points(in);
    std::vector<double> at(static_cast<std::size_t>(Number(in)));
    for (double& x : at) {
        x = Number(in);
    }
    const Cubic cubic = FitCubic(points).value_or(Cubic{NAN, NAN, NAN, NAN});
    Print({cubic.A3, cubic.A2, cubic.A1, cubic.A0});
    const std::vector<FitDeviation> rows = FitDeviations(cubic, points);
    for (const FitDeviation& row : rows) {
        Print({row.Faulted ? NAN : row.Fitted, row.Faulted ? NAN : row.Deviation}, "");
    }
    std::printf("\n");
    Print({ResidualStandardDeviation(rows)});
    if (const std::optional<CurveLeverage> leverage = CurveLeverage::Of(points)) {
        for (const double x : at) {
            Print({leverage->At(x)}, "");
        }
        Print({leverage->Largest().Value, leverage->Largest().Raw});
    } else {
        std::printf("none\n");
    }
    if (const auto u = EstimateUncertainty(points, cubic, reference)) {
        Print({u->DegreesOfFreedom, u->S, u->Expanded, u->AtRaw, u->Stated});
        std::printf("%s\n", UncertaintyText(u->Stated, ',').c_str());
    } else {
        std::printf("none\n");
    }
}

void Outliers(std::istream& in) {
    const std::vector<CalibrationPoint> points = Points(in);
    const std::optional<Cubic> cubic = FitCubic(points);
    Print({cubic ? cubic->A3 : NAN, cubic ? cubic->A2 : NAN, cubic ? cubic->A1 : NAN,
           cubic ? cubic->A0 : NAN});
    for (const Outlier& o : cubic ? FindOutliers(points, *cubic) : std::vector<Outlier>{}) {
        std::printf("%d %a %s\n", o.Point, o.Ratio, OutlierLine(o, ',').c_str());
    }
}

void Window(std::istream& in) {
    const double now = Number(in);
    StabilitySettings settings;
    settings.WindowSeconds = Number(in);
    settings.Celsius = {Number(in), Number(in)};
    settings.Bits = {Number(in), Number(in)};
    const Cubic cubic = CubicFrom(in);
    std::vector<TimedReading> readings(static_cast<std::size_t>(Number(in)));
    for (TimedReading& r : readings) {
        r.Seconds = Number(in);
        r.Raw = static_cast<std::int32_t>(Number(in));
    }
    const StabilityJudgement j = JudgeStability(
        readings, now, settings, std::isnan(cubic.A3) ? std::nullopt : std::optional(cubic));
    for (const std::optional<WindowStatistics>& s : {j.Bits, j.Celsius}) {
        const WindowStatistics w = s.value_or(WindowStatistics{0, NAN, NAN, NAN, NAN});
        Print({w.Count, w.Mean, w.StandardDeviation, w.PeakToPeak, w.SlopePerMinute});
    }
    std::printf("%s\n", StabilityText(j.Verdict));
}

} // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string command;
        in >> command;
        if (command == "uncertainty") {
            Uncertainty(in);
        } else if (command == "asfound") {
            const Cubic before = CubicFrom(in);
            for (const std::optional<float>& d : AsFoundDeviations(before, Points(in))) {
                Print({d}, "");
            }
            std::printf("\n");
        } else if (command == "outliers") {
            Outliers(in);
        } else if (command == "stability") {
            Window(in);
        } else {
            std::fprintf(stderr, "statistics_probe: unknown case \"%s\"\n", command.c_str());
            return 2;
        }
        std::printf("end\n");
        std::fflush(stdout);
    }
    return 0;
}
