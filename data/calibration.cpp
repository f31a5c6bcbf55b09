#include "data/calibration.h"

#include "data/evaluation.h"
#include "data/fp_environment.h"
#include "data/number_text.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <limits>

static_assert(LDBL_MANT_DIG == 64, "long double must be the 64-bit-significand extended type");

namespace zorm {

namespace {

using Extended = long double;

// Rounds a value formed in extended precision to the double it is named as.
double Named(Extended v) {
    return static_cast<double>(v);
}

// The fitted temperature inside an ExtendedArithmetic scope. The operands
// are read from volatile copies and each step is stored to a volatile, so
// that no part of the arithmetic moves across the caller's flag reads.
std::optional<double> Fitted(const Cubic& cubic, std::int32_t raw) {
    volatile const std::int32_t vraw = raw;
    volatile const double a3 = cubic.A3;
    volatile const double a2 = cubic.A2;
    volatile const double a1 = cubic.A1;
    volatile const double a0 = cubic.A0;
    const Extended x = vraw;
    volatile double v = Named(((x * a3) * x) * x);
    v = Named((x * a2) * x + v);
    v = Named(x * a1 + v);
    v = Named(Extended{v} + a0);
    asm volatile("" ::: "memory");
    if (ExtendedArithmetic::Faulted()) {
        return std::nullopt;
    }
    return v;
}

// `minuend - subtrahend` formed in extended precision and rounded to single,
// or nothing when that overflows or is invalid.
std::optional<float> SingleDifference(double minuend, double subtrahend) {
    volatile const double a = minuend;
    volatile const double b = subtrahend;
    volatile const float d = static_cast<float>(Extended{a} - b);
    asm volatile("" ::: "memory");
    if (ExtendedArithmetic::Faulted()) {
        return std::nullopt;
    }
    return d;
}

} // namespace

Cubic CubicOf(const CoefficientTable& table, int sensor) {
    return {table.A3(sensor), table.A2(sensor), table.A1(sensor), table.A0(sensor)};
}

void SetCubic(CoefficientTable& table, int sensor, const Cubic& cubic) {
    table.A3(sensor) = cubic.A3;
    table.A2(sensor) = cubic.A2;
    table.A1(sensor) = cubic.A1;
    table.A0(sensor) = cubic.A0;
}

void TakeSensor(const SensorParamSet& work, SensorParamSet& user, int sensor) {
    for (int k = 1; k <= SensorParamSet::Points; ++k) {
        user.TrueTemp(sensor, k) = work.TrueTemp(sensor, k);
        user.Raw(sensor, k) = work.Raw(sensor, k);
    }
    user.Count(sensor) = work.Count(sensor);
    user.Calibrated(sensor) = 1;
    CoefficientTable& to = user.Coefficients;
    const CoefficientTable& from = work.Coefficients;
    to.A3(sensor) = from.A3(sensor);
    to.A2(sensor) = from.A2(sensor);
    to.A1(sensor) = from.A1(sensor);
    to.A0(sensor) = from.A0(sensor);
}

std::vector<CalibrationPoint> PointsOf(const SensorParamSet& params, int sensor, int n) {
    std::vector<CalibrationPoint> points;
    const int count = std::clamp(n, 0, SensorParamSet::Points);
    points.reserve(static_cast<std::size_t>(count));
    for (int k = 1; k <= count; ++k) {
        points.push_back({params.Raw(sensor, k), params.TrueTemp(sensor, k)});
    }
    return points;
}

void SetPoints(SensorParamSet& params, int sensor, std::span<const CalibrationPoint> points) {
    const int n = static_cast<int>(std::min<std::size_t>(points.size(), SensorParamSet::Points));
    for (int k = 1; k <= SensorParamSet::Points; ++k) {
        const CalibrationPoint point =
            k <= n ? points[static_cast<std::size_t>(k - 1)] : CalibrationPoint{};
        params.Raw(sensor, k) = point.Raw;
        params.TrueTemp(sensor, k) = point.TrueTemp;
    }
    params.Count(sensor) = static_cast<std::uint8_t>(n);
}

std::vector<int> CommitFitted(const SensorParamSet& work, SensorParamSet& user,
                              const std::set<int>& fitted) {
    std::vector<int> taken;
    for (const int sensor : fitted) {
        if (sensor >= 1 && sensor <= SensorParamSet::Sensors) {
            TakeSensor(work, user, sensor);
            taken.push_back(sensor);
        }
    }
    return taken;
}

std::optional<Cubic> FitCubic(const SensorParamSet& params, int sensor, int n) {
    if (n < MinFitPoints || n > MaxFitPoints) {
        return std::nullopt;
    }
    return FitCubic(PointsOf(params, sensor, n));
}

std::optional<Cubic> FitCubic(std::span<const CalibrationPoint> points) {
    if (points.size() < MinFitPoints || points.size() > MaxFitPoints) {
        return std::nullopt;
    }
    const int n = static_cast<int>(points.size());
    const ExtendedArithmetic scope;

    std::array<double, MaxFitPoints> x{};
    std::array<double, MaxFitPoints> y{};
    for (int i = 0; i < n; ++i) {
        x[i] = points[i].Raw;
        y[i] = points[i].TrueTemp;
    }

    // Right-hand sums B0..B3 of y * x^k, one k after the other.
    double b0 = 0;
    double b1 = 0;
    double b2 = 0;
    double b3 = 0;
    for (int i = 0; i < n; ++i) {
        b0 = Named(Extended{b0} + Extended{1} * y[i]);
    }
    for (int i = 0; i < n; ++i) {
        b1 = Named(Extended{b1} + Extended{x[i]} * y[i]);
    }
    for (int i = 0; i < n; ++i) {
        const double p = Named(Extended{x[i]} * x[i]);
        b2 = Named(Extended{b2} + Extended{p} * y[i]);
    }
    for (int i = 0; i < n; ++i) {
        const double p = Named(Extended{x[i]} * x[i] * x[i]);
        b3 = Named(Extended{b3} + Extended{p} * y[i]);
    }
    const double count = n;

    // Power sums S1..S6, each power formed without rounding in between.
    std::array<double, 7> s{};
    for (int m = 1; m <= 6; ++m) {
        for (int i = 0; i < n; ++i) {
            const Extended xi = x[i];
            const Extended x2 = xi * xi;
            Extended power = xi;
            switch (m) {
            case 2:
                power = x2;
                break;
            case 3:
                power = x2 * xi;
                break;
            case 4:
                power = x2 * x2;
                break;
            case 5:
                power = (x2 * x2) * xi;
                break;
            case 6:
                power = x2 * (x2 * x2);
                break;
            default:
                break;
            }
            s[m] = Named(s[m] + power);
        }
    }

    // The system centred on the mean; its columns belong to A1, A2, A3.
    const auto centred = [count](double c, double a, double b) {
        return Named(c - (Extended{a} * b) / count);
    };
    const double m11 = centred(s[2], s[1], s[1]);
    const double m12 = centred(s[3], s[1], s[2]);
    const double m13 = centred(s[4], s[1], s[3]);
    const double m22 = centred(s[4], s[2], s[2]);
    const double m23 = centred(s[5], s[2], s[3]);
    const double m33 = centred(s[6], s[3], s[3]);
    const double m21 = m12;
    const double m31 = m13;
    const double m32 = m23;
    const double v1 = centred(b1, s[1], b0);
    const double v2 = centred(b2, s[2], b0);
    const double v3 = centred(b3, s[3], b0);

    // The rule of Sarrus, the six terms in this order.
    const auto sarrus = [](double a11, double a12, double a13, double a21, double a22, double a23,
                           double a31, double a32, double a33) {
        return Named(Extended{a11} * a22 * a33 + Extended{a12} * a23 * a31 +
                     Extended{a13} * a21 * a32 - Extended{a11} * a23 * a32 -
                     Extended{a12} * a21 * a33 - Extended{a13} * a22 * a31);
    };
    const double d = sarrus(m11, m12, m13, m21, m22, m23, m31, m32, m33);
    if (d == 0.0) {
        return std::nullopt;
    }
    const double d1 = sarrus(v1, m12, m13, v2, m22, m23, v3, m32, m33);
    const double d2 = sarrus(m11, v1, m13, m21, v2, m23, m31, v3, m33);
    const double d3 = sarrus(m11, m12, v1, m21, m22, v2, m31, m32, v3);

    Cubic cubic;
    cubic.A3 = Named(Extended{d3} / d);
    cubic.A2 = Named(Extended{d2} / d);
    cubic.A1 = Named(Extended{d1} / d);
    cubic.A0 = Named((((Extended{b0} - Extended{cubic.A1} * s[1]) - Extended{cubic.A2} * s[2]) -
                      Extended{cubic.A3} * s[3]) /
                     count);
    if (!std::isfinite(cubic.A3) || !std::isfinite(cubic.A2) || !std::isfinite(cubic.A1) ||
        !std::isfinite(cubic.A0)) {
        return std::nullopt;
    }
    return cubic;
}

std::optional<double> FittedTemperature(const Cubic& cubic, std::int32_t raw) {
    const ExtendedArithmetic scope;
    return Fitted(cubic, raw);
}

std::optional<std::vector<double>> FittedTemperatures(const Cubic& cubic,
                                                      std::span<const std::int32_t> raws) {
    const ExtendedArithmetic scope;
    std::vector<double> temperatures;
    temperatures.reserve(raws.size());
    for (const std::int32_t raw : raws) {
        // The flags stay clear until a fault, and the first one ends it all.
        const std::optional<double> v = Fitted(cubic, raw);
        if (!v) {
            return std::nullopt;
        }
        temperatures.push_back(*v);
    }
    return temperatures;
}

std::string PolynomialLine(const Cubic& cubic, char sep) {
    return "y = " + general(cubic.A3, 8, sep) + "*x^3 + " + general(cubic.A2, 8, sep) + "*x^2 + " +
           general(cubic.A1, 8, sep) + "*x + " + general(cubic.A0, 8, sep);
}

std::vector<FitDeviation> FitDeviations(const Cubic& cubic,
                                        std::span<const CalibrationPoint> points) {
    const ExtendedArithmetic scope;
    std::vector<FitDeviation> rows;
    rows.reserve(points.size());
    for (const CalibrationPoint& point : points) {
        ExtendedArithmetic::Clear();
        const std::optional<double> v = Fitted(cubic, point.Raw);
        const std::optional<float> d = v ? SingleDifference(*v, point.TrueTemp) : std::nullopt;
        rows.push_back(d ? FitDeviation{*v, *d, false} : FitDeviation{0, 0, true});
    }
    return rows;
}

std::optional<float> LargestDeviation(std::span<const FitDeviation> rows) {
    const ExtendedArithmetic scope;
    float largest = 0;
    for (const FitDeviation& row : rows) {
        if (row.Faulted) {
            return std::nullopt;
        }
        if (std::fabs(row.Deviation) > std::fabs(largest)) {
            largest = row.Deviation;
        }
    }
    return largest;
}

std::vector<std::optional<float>> AsFoundDeviations(const Cubic& before,
                                                    std::span<const CalibrationPoint> points) {
    const ExtendedArithmetic scope;
    std::vector<std::optional<float>> deviations;
    deviations.reserve(points.size());
    for (const CalibrationPoint& point : points) {
        ExtendedArithmetic::Clear();
        const std::optional<double> v = Fitted(before, point.Raw);
        deviations.push_back(v ? SingleDifference(point.TrueTemp, *v) : std::nullopt);
    }
    return deviations;
}

FitReport MakeFitReport(const SensorParamSet& params, int sensor, int n, char sep) {
    // The texts are formed inside the scope too, so that nothing of this
    // arithmetic reaches the caller's flags.
    const ExtendedArithmetic scope;
    const std::vector<FitDeviation> rows =
        FitDeviations(CubicOf(params.Coefficients, sensor), PointsOf(params, sensor, n));
    FitReport report;
    for (const FitDeviation& row : rows) {
        if (row.Faulted) {
            report.Faulted = true;
            return report;
        }
        report.Rows.push_back({fixed(row.Fitted, 6, 3, sep), fixed(row.Deviation, 6, 3, sep)});
    }
    report.MaxDeviation = fixed(*LargestDeviation(rows), 6, 4, sep);
    return report;
}

Listing MakeListing(const SensorParamSet& params, int sensor, char sep) {
    const ExtendedArithmetic scope;
    const Cubic cubic = CubicOf(params.Coefficients, sensor);
    Listing listing;
    float largest = 0;
    for (int k = 1; k <= params.PointsInUse(sensor); ++k) {
        const std::int32_t raw = params.Raw(sensor, k);
        const float trueTemp = params.TrueTemp(sensor, k);
        ListingRow row{std::to_string(raw), fixed(trueTemp, 6, 2, sep), EvaluationError,
                       EvaluationError, true};
        ExtendedArithmetic::Clear();
        const std::optional<double> v = Fitted(cubic, raw);
        const std::optional<float> d = v ? SingleDifference(trueTemp, *v) : std::nullopt;
        if (d) {
            row.Fitted = fixed(*v, 6, 3, sep);
            row.Deviation = fixed(*d, 5, 3, sep);
            row.Faulted = false;
            if (std::fabs(*d) > std::fabs(largest)) {
                largest = *d;
            }
        }
        listing.Rows.push_back(std::move(row));
    }
    listing.MaxDeviation = fixed(largest, 6, 3, sep);
    return listing;
}

std::optional<float> ParseTemperature(std::string_view text, char sep) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0;
    const std::size_t end = text.size();
    while (i < end && blank(text[i])) {
        ++i;
    }

    // The number is copied in the form std::from_chars reads: "-", digits,
    // ".", digits, "e", "-", digits.
    std::string number;
    bool negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (negative) {
        number += '-';
    }
    std::string mantissa;
    int digits = 0;
    bool separator = false;
    // The power of ten E of the first significant digit, the number read as
    // 0.d1d2... x 10^E (before its exponent).
    long long leading = 0;
    bool significant = false;
    for (; i < end; ++i) {
        const char c = text[i];
        if (digit(c)) {
            ++digits;
            mantissa += c;
            significant = significant || c != '0';
            if (significant && !separator) {
                ++leading;
            } else if (!significant && separator) {
                --leading;
            }
        } else if (c == sep && !separator) {
            separator = true;
            mantissa += '.';
        } else {
            break;
        }
    }
    if (digits == 0) {
        return std::nullopt;
    }
    number += "0" + mantissa;

    long long exponent = 0;
    if (i < end && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < end && (text[i] == '+' || text[i] == '-')) {
            negativeExponent = text[i] == '-';
            ++i;
        }
        const std::size_t first = i;
        for (; i < end && digit(text[i]); ++i) {
            // Saturates far beyond any float, so a long exponent cannot wrap.
            exponent = exponent < 100000 ? exponent * 10 + (text[i] - '0') : exponent;
        }
        if (i == first) {
            return std::nullopt;
        }
        if (negativeExponent) {
            exponent = -exponent;
        }
        number += 'e' + std::to_string(exponent);
    }
    while (i < end && blank(text[i])) {
        ++i;
    }
    if (i != end) {
        return std::nullopt;
    }

    float value = 0;
    const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec == std::errc{} && ptr == number.data() + number.size()) {
        return value;
    }
    if (ec != std::errc::result_out_of_range) {
        return std::nullopt;
    }
    // Out of range: too large is refused, too small to tell from zero is
    // zero. The first significant digit tells which.
    if (significant && leading + exponent > 0) {
        return std::nullopt;
    }
    return negative ? -0.0F : 0.0F;
}

} // namespace zorm
