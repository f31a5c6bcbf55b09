#include "data/calibration.h"

#include "data/evaluation.h"
#include "data/number_text.h"
#include "tests/support/binary_model.h"
#include "tests/support/caller_environment.h"
#include "tests/support/sensor_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace zorm {
namespace {

using namespace test;

struct Point {
    std::int32_t raw;
    float t;
};
using Points = std::vector<Point>;

// Sensor 2 holds the points (Count set, calibrated) and the cubic; sensors 1
// and 3 hold 30 other points and A0 = 555, so that a mix-up shows.
SensorParamSet sensor2(const Points& points, const Cubic& c = {}) {
    SensorParamSet params;
    for (const int s : {1, 3}) {
        for (int k = 1; k <= SensorParamSet::Points; ++k) {
            params.Raw(s, k) = 1000 * s + k;
            params.TrueTemp(s, k) = static_cast<float>(-k);
        }
        params.Count(s) = SensorParamSet::Points;
        params.Coefficients.A0(s) = 555;
    }
    for (std::size_t i = 0; i < points.size() && i < SensorParamSet::Points; ++i) {
        params.Raw(2, static_cast<int>(i) + 1) = points[i].raw;
        params.TrueTemp(2, static_cast<int>(i) + 1) = points[i].t;
    }
    params.Count(2) = static_cast<std::uint8_t>(points.size());
    params.Calibrated(2) = 1;
    params.Coefficients.A3(2) = c.A3;
    params.Coefficients.A2(2) = c.A2;
    params.Coefficients.A1(2) = c.A1;
    params.Coefficients.A0(2) = c.A0;
    return params;
}

std::uint64_t bitsOf(double v) {
    return std::bit_cast<std::uint64_t>(v);
}

// ---------------------------------------------------------------------------
// The fit in the integer model: each operation rounded to the 64 bits of the
// extended type, each named value rounded from there to a double, in the
// order the fit forms them. Nothing for a singular system; `outOfRange` when
// a named value overflows a double, which the point sets here never reach.

const int Ext = 64;

Binary mul(const Binary& a, const Binary& b) {
    return multiply(a, b, Ext);
}
Binary mul3(const Binary& a, const Binary& b, const Binary& c) {
    return mul(mul(a, b), c);
}
Binary plus(const Binary& a, const Binary& b) {
    return add(a, b, Ext);
}
Binary minus(const Binary& a, const Binary& b) {
    return subtract(a, b, Ext);
}
Binary over(const Binary& a, const Binary& b) {
    return divide(a, b, Ext);
}

std::optional<Cubic> modelFit(const Points& points, bool& outOfRange) {
    const auto named = [&outOfRange](const Binary& v) {
        const auto d = roundToDouble(v);
        outOfRange = outOfRange || !d;
        return d.value_or(Binary{});
    };
    // Each sum has its own running value, so one pass over the points forms
    // them all in their order.
    Binary b0, b1, b2, b3;
    std::array<Binary, 7> s{};
    for (const Point& p : points) {
        const Binary x = fromInt(p.raw);
        const Binary y = fromFloat(p.t);
        const Binary x2 = mul(x, x);
        b0 = named(plus(b0, y));
        b1 = named(plus(b1, mul(x, y)));
        b2 = named(plus(b2, mul(named(x2), y)));
        b3 = named(plus(b3, mul(named(mul(x2, x)), y)));
        const Binary powers[] = {
            x, x2, mul(x2, x), mul(x2, x2), mul(mul(x2, x2), x), mul(x2, mul(x2, x2))};
        for (int m = 1; m <= 6; ++m) {
            s[m] = named(plus(s[m], powers[m - 1]));
        }
    }
    const Binary n = fromInt(static_cast<std::int32_t>(points.size()));
    const auto centred = [&](const Binary& c, const Binary& a, const Binary& b) {
        return named(minus(c, over(mul(a, b), n)));
    };
    const Binary m11 = centred(s[2], s[1], s[1]), m12 = centred(s[3], s[1], s[2]),
                 m13 = centred(s[4], s[1], s[3]), m22 = centred(s[4], s[2], s[2]),
                 m23 = centred(s[5], s[2], s[3]), m33 = centred(s[6], s[3], s[3]),
                 v1 = centred(b1, s[1], b0), v2 = centred(b2, s[2], b0), v3 = centred(b3, s[3], b0);
    const auto sarrus = [&](const Binary& a11, const Binary& a12, const Binary& a13,
                            const Binary& a21, const Binary& a22, const Binary& a23,
                            const Binary& a31, const Binary& a32, const Binary& a33) {
        Binary sum = plus(mul3(a11, a22, a33), mul3(a12, a23, a31));
        sum = minus(plus(sum, mul3(a13, a21, a32)), mul3(a11, a23, a32));
        return named(minus(minus(sum, mul3(a12, a21, a33)), mul3(a13, a22, a31)));
    };
    const Binary d = sarrus(m11, m12, m13, m12, m22, m23, m13, m23, m33);
    if (d.m == 0) {
        return std::nullopt;
    }
    const Binary a3 = named(over(sarrus(m11, m12, v1, m12, m22, v2, m13, m23, v3), d));
    const Binary a2 = named(over(sarrus(m11, v1, m13, m12, v2, m23, m13, v3, m33), d));
    const Binary a1 = named(over(sarrus(v1, m12, m13, v2, m22, m23, v3, m23, m33), d));
    const Binary a0 =
        named(over(minus(minus(minus(b0, mul(a1, s[1])), mul(a2, s[2])), mul(a3, s[3])), n));
    return Cubic{*toDouble(a3), *toDouble(a2), *toDouble(a1), *toDouble(a0)};
}

// The fitted temperature in the model: four steps, each rounded to a double.
std::optional<Binary> modelFitted(const Cubic& c, std::int32_t raw) {
    const Binary x = fromInt(raw);
    auto v = roundToDouble(mul3(mul(x, fromDouble(c.A3)), x, x));
    if (v) {
        v = roundToDouble(plus(mul(mul(x, fromDouble(c.A2)), x), *v));
    }
    if (v) {
        v = roundToDouble(plus(mul(x, fromDouble(c.A1)), *v));
    }
    if (v) {
        v = roundToDouble(plus(*v, fromDouble(c.A0)));
    }
    return v;
}

// The fit of one point set and its report against the model, to the bit
// and to the character.
::testing::AssertionResult matchesModel(const Points& points, bool& singular) {
    bool outOfRange = false;
    const std::optional<Cubic> want = modelFit(points, outOfRange);
    SensorParamSet params = sensor2(points);
    const int n = static_cast<int>(points.size());
    const std::optional<Cubic> got = FitCubic(params, 2, n);
    const auto failure = [&] {
        auto result = ::testing::AssertionFailure() << std::hexfloat << n << " points:";
        for (const Point& p : points) {
            result << " (" << p.raw << ", " << p.t << ")";
        }
        return result << ": ";
    };
    if (outOfRange) {
        return failure() << "beyond the range of the model";
    }
    singular = !want;
    if (!want || !got) {
        return want.has_value() == got.has_value() ? ::testing::AssertionSuccess()
                                                   : failure() << "only one is singular";
    }
    if (bitsOf(got->A3) != bitsOf(want->A3) || bitsOf(got->A2) != bitsOf(want->A2) ||
        bitsOf(got->A1) != bitsOf(want->A1) || bitsOf(got->A0) != bitsOf(want->A0)) {
        return failure() << "got " << got->A3 << ", " << got->A2 << ", " << got->A1 << ", "
                         << got->A0 << "; want " << want->A3 << ", " << want->A2 << ", " << want->A1
                         << ", " << want->A0;
    }
    params = sensor2(points, *want);
    const FitReport report = MakeFitReport(params, 2, n, ',');
    float largest = 0;
    for (int k = 0; k < n; ++k) {
        const auto v = modelFitted(*want, points[k].raw);
        const auto d = v ? toSingle(minus(*v, fromFloat(points[k].t))) : std::nullopt;
        if (!d) {
            return report.Faulted && report.Rows.size() == static_cast<std::size_t>(k)
                       ? ::testing::AssertionSuccess()
                       : failure() << "no fault in report row " << k + 1;
        }
        const float deviation = d.value_or(0);
        if (report.Rows.size() <= static_cast<std::size_t>(k) ||
            report.Rows[k].Fitted != fixed(*toDouble(*v), 6, 3, ',') ||
            report.Rows[k].Deviation != fixed(deviation, 6, 3, ',')) {
            return failure() << "report row " << k + 1;
        }
        largest = std::fabs(deviation) > std::fabs(largest) ? deviation : largest;
    }
    if (report.Faulted || report.MaxDeviation != fixed(largest, 6, 4, ',')) {
        return failure() << "report maximum \"" << report.MaxDeviation << "\"";
    }
    return ::testing::AssertionSuccess();
}

// Calibrations as they come (raw 0..99999, -200..1000 °C), points along a
// sensor's curve, clusters of close and equal readings (singular and nearly
// singular systems), and the whole int32 and single ranges.
TEST(FitCubic, AgreesWithExactModelOnRandomPointSets) {
    std::mt19937_64 rng(58164);
    std::uniform_int_distribution<int> count(MinFitPoints, MaxFitPoints);
    std::uniform_int_distribution<std::int32_t> converterRaw(0, 99999);
    std::uniform_int_distribution<std::int32_t> anyRaw(std::numeric_limits<std::int32_t>::min(),
                                                       std::numeric_limits<std::int32_t>::max());
    std::uniform_real_distribution<double> temperature(-200.0, 1000.0);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> singleExponent(-149, 127);
    std::uniform_int_distribution<int> spread(0, 3);
    int failures = 0;
    int singular = 0;
    const int sets = 5000;
    for (int i = 0; i < sets && failures < 10; ++i) {
        const int n = count(rng);
        const std::int32_t base = converterRaw(rng);
        const double a1 = 0.01 * (1 + unit(rng)) * (i % 2 ? 1 : -1);
        Points points;
        for (int k = 0; k < n; ++k) {
            Point p{converterRaw(rng), static_cast<float>(temperature(rng))};
            const double x = p.raw;
            switch (i % 5) {
            case 1:
                p.t = static_cast<float>(1e-14 * unit(rng) * x * x * x + 3e-9 * x * x + a1 * x -
                                         50 + 0.01 * unit(rng));
                break;
            case 2:
                p.raw = base + spread(rng) * (i % 3 == 0 ? 0 : i % 7);
                break;
            case 3:
                p.raw = anyRaw(rng);
                p.t = static_cast<float>(std::ldexp(unit(rng), singleExponent(rng)));
                break;
            case 4:
                p.raw = anyRaw(rng) >> spread(rng) * 8;
                break;
            }
            points.push_back(p);
        }
        bool isSingular = false;
        const auto result = matchesModel(points, isSingular);
        EXPECT_TRUE(result);
        failures += result ? 0 : 1;
        singular += isSingular ? 1 : 0;
    }
    EXPECT_GT(singular, sets / 100);
    EXPECT_LT(singular, sets / 4);
}

TEST(FitCubic, FormsThePowersInTheGivenOrder) {
    // Raws whose fourth, fifth or sixth power rounds to another double when
    // formed in another order, in fits that carry the difference on to the
    // coefficients.
    const std::pair<std::int32_t, int> cases[] = {{1867366128, 4}, {418065644, 5}, {691302997, 6}};
    for (const auto& [raw, power] : cases) {
        const Binary x = fromInt(raw);
        const Binary x2 = mul(x, x);
        const Binary given[] = {mul(x2, x2), mul(mul(x2, x2), x), mul(x2, mul(x2, x2))};
        const Binary other[] = {mul3(x2, x, x), mul(x2, mul(x2, x)), mul3(mul(x2, x2), x, x)};
        ASSERT_NE(toDouble(given[power - 4]), toDouble(other[power - 4])) << raw;
        bool singular = false;
        EXPECT_TRUE(matchesModel({{raw, 20}, {1000, -5}, {70000, 100}, {-123456789, 7}}, singular));
    }
}

TEST(FitCubic, Examples) {
    const std::pair<Points, std::optional<Cubic>> cases[] = {
        // Every intermediate value is exact.
        {{{0, 1}, {1, 2}, {2, 9}, {3, 28}}, Cubic{1, 0, 0, 1}},
        // Equal small readings: the sums are exact and D is zero.
        {{{100, 1}, {100, 2}, {100, 3}, {100, 4}}, std::nullopt},
        // Equal large readings: D is a rounding residue, and the fit is the mean.
        {{{12345, 1}, {12345, 2}, {12345, 3}, {12345, 4}, {12345, 5}}, Cubic{0, 0, 0, 3}},
    };
    for (const auto& [points, want] : cases) {
        EXPECT_EQ(FitCubic(sensor2(points), 2, static_cast<int>(points.size())), want);
        bool singular = false;
        EXPECT_TRUE(matchesModel(points, singular));
    }
    // Four to thirty points.
    Points thirty;
    for (int k = 0; k < 30; ++k) {
        thirty.push_back({k * 3000, static_cast<float>(k * k)});
    }
    for (const int n : {4, 29, 30, 3, 0, -1, 31, 255, std::numeric_limits<int>::min()}) {
        EXPECT_EQ(FitCubic(sensor2(thirty), 2, n).has_value(), n >= 4 && n <= 30) << n;
    }
    // The report of the exact fit.
    const Points exact = cases[0].first;
    for (const char sep : {'.', ','}) {
        const FitReport report = MakeFitReport(sensor2(exact, {1, 0, 0, 1}), 2, 4, sep);
        const std::string zero = fixed(0, 6, 3, sep);
        ASSERT_EQ(report.Rows.size(), 4U);
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(report.Rows[k].Fitted, fixed(exact[k].t, 6, 3, sep));
            EXPECT_EQ(report.Rows[k].Deviation, zero);
        }
        EXPECT_EQ(report.MaxDeviation, zero + "0");
    }
}

TEST(FitCubic, TinyDeviationsOfBothSignsShowAsZero) {
    const Points points = {{10000, 0}, {30000, 20}, {60000, 50}, {90000, 80}};
    const auto cubic = FitCubic(sensor2(points), 2, 4);
    ASSERT_TRUE(cubic);
    int negative = 0;
    int positive = 0;
    for (const Point& p : points) {
        const double d = *FittedTemperature(*cubic, p.raw) - p.t;
        EXPECT_LT(std::fabs(d), 1e-9);
        negative += d < 0 ? 1 : 0;
        positive += d > 0 ? 1 : 0;
    }
    EXPECT_GT(negative, 0);
    EXPECT_GT(positive, 0);
    const FitReport report = MakeFitReport(sensor2(points, *cubic), 2, 4);
    const Listing listing = MakeListing(sensor2(points, *cubic), 2);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(report.Rows.at(k).Deviation, "0.000");
        EXPECT_EQ(listing.Rows.at(k).Deviation, "0.000");
    }
    EXPECT_EQ(report.MaxDeviation, "0.0000");
    EXPECT_EQ(listing.MaxDeviation, "0.000");
}

// Calibrations as they come and coefficients of every magnitude over all raw
// values, on both sides of the end of the double range; and cubic and square
// terms that round to another double when x * x is formed first.
TEST(FittedTemperature, AgreesWithExactModel) {
    std::mt19937_64 rng(5817);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<std::int32_t> converterRaw(0, 99999);
    std::uniform_int_distribution<std::int32_t> anyRaw(std::numeric_limits<std::int32_t>::min(),
                                                       std::numeric_limits<std::int32_t>::max());
    std::uniform_int_distribution<int> exponent(-1074, 1023);
    std::vector<std::pair<Cubic, std::int32_t>> cases = {
        {{-0x1.626a13d722241p-47, 0, 0, 0}, 42550},
        {{-0x1.1a9f8244058a6p-47, 0, 0, 0}, 55947},
        {{0, -0x1.4bfb9b3d6d35p-28, 0, 0}, 77813},
        {{0, 0x1.38be53a1da705p-33, 0, 0}, 56801},
    };
    for (const auto& [c, raw] : cases) {
        const Binary x = fromInt(raw);
        const Binary square = mul(x, x);
        const auto squareFirst =
            c.A3 != 0 ? mul(mul(x, fromDouble(c.A3)), square) : mul(square, fromDouble(c.A2));
        ASSERT_NE(toDouble(squareFirst), toDouble(*modelFitted(c, raw))) << raw;
    }
    for (int i = 0; i < 20000; ++i) {
        if (i % 2 == 0) {
            cases.push_back(
                {{1e-14 * unit(rng), 1e-8 * unit(rng), 0.01 * unit(rng), -50 + 30 * unit(rng)},
                 converterRaw(rng)});
        } else {
            cases.push_back(
                {{std::ldexp(unit(rng), exponent(rng) / 3),
                  std::ldexp(unit(rng), exponent(rng) / 2), std::ldexp(unit(rng), exponent(rng)),
                  std::ldexp(unit(rng), exponent(rng))},
                 anyRaw(rng)});
        }
    }
    int failures = 0;
    int faults = 0;
    for (const auto& [c, raw] : cases) {
        const auto want = modelFitted(c, raw);
        const auto got = FittedTemperature(c, raw);
        const bool same = want ? got && bitsOf(*got) == bitsOf(*toDouble(*want)) : !got;
        EXPECT_TRUE(same) << std::hexfloat << c.A3 << ", " << c.A2 << ", " << c.A1 << ", " << c.A0
                          << " at " << std::dec << raw;
        faults += want ? 0 : 1;
        if ((failures += same ? 0 : 1) == 10) {
            break;
        }
    }
    EXPECT_GT(faults, 100);
    EXPECT_LT(faults, 5000);
}

// ---------------------------------------------------------------------------

TEST(FitReport, LargestDeviationKeepsItsSignAndTheFirstWins) {
    // With the zero cubic every fitted value is 0 and the deviation is -t.
    struct Case {
        std::vector<float> temps;
        std::string deviations;
        std::string largest;
    };
    const Case cases[] = {
        {{0.5F, -0.5F}, "-0.500 0.500", "-0.5000"},
        {{-0.5F, 0.5F}, "0.500 -0.500", "0.5000"},
        {{-0.2F, 0.3F}, "0.200 -0.300", "-0.3000"},
        {{0, 0, 0, 0}, "0.000 0.000 0.000 0.000", "0.0000"},
        {{-123.4567F, 0.0001F}, "123.457 0.000", "123.4570"},
        {{-1234567}, "1.23457E006", "1.23457E0006"},
    };
    for (Case c : cases) {
        Points points;
        for (const float t : c.temps) {
            points.push_back({static_cast<std::int32_t>(points.size()), t});
        }
        for (const char sep : {'.', ','}) {
            const FitReport report =
                MakeFitReport(sensor2(points), 2, static_cast<int>(points.size()), sep);
            std::string deviations;
            for (const FitReportRow& row : report.Rows) {
                EXPECT_EQ(row.Fitted, fixed(0, 6, 3, sep));
                deviations += (deviations.empty() ? "" : " ") + row.Deviation;
            }
            EXPECT_EQ(deviations, c.deviations);
            EXPECT_EQ(report.MaxDeviation, c.largest);
            EXPECT_FALSE(report.Faulted);
            std::replace(c.deviations.begin(), c.deviations.end(), '.', ',');
            std::replace(c.largest.begin(), c.largest.end(), '.', ',');
        }
    }
}

TEST(FitReport, DeviationBeyondSingleEndsTheReport) {
    // Huge coefficients of a nearly singular fit: raw 99999 gives 1e40, a
    // double whose deviation no single holds.
    const Points points = {{0, 1}, {99999, 2}, {1, 3}, {2, 4}};
    const FitReport report = MakeFitReport(sensor2(points, {1e25, 0, 0, 0}), 2, 4);
    EXPECT_TRUE(report.Faulted);
    ASSERT_EQ(report.Rows.size(), 1U);
    EXPECT_EQ(report.Rows[0].Deviation, "-1.000");
    EXPECT_EQ(report.MaxDeviation, "");
    // A fitted value beyond the double range faults as well.
    EXPECT_TRUE(MakeFitReport(sensor2(points, {0, 1e300, 0, 0}), 2, 4).Faulted);
}

// ---------------------------------------------------------------------------

TEST(Listing, RowsAndLargestDeviationWithItsSign) {
    struct Case {
        Cubic cubic;
        Points points;
        std::string rows; // raw, true, fitted, deviation per row
        std::string largest;
    };
    const Case cases[] = {
        // True minus computed, fixed(5, 3); the largest magnitude with its
        // sign, fixed(6, 3).
        {{0, 0, 1, 0},
         {{10, 10.5F}, {20, 19}, {-5, -5.25F}, {0, 123.4567F}},
         "10 10.50 10.000 0.500|20 19.00 20.000 -1.000|-5 -5.25 -5.000 -0.250|"
         "0 123.46 0.000 123.460|",
         "123.457"},
        // All deviations negative.
        {{0, 0, 0, 100},
         {{1, 99.5F}, {2, 20}},
         "1 99.50 100.000 -0.500|2 20.00 100.000 -80.000|",
         "-80.000"},
        // Mixed: the negative one is the larger.
        {{0, 0, 0, 0},
         {{1, 0.16F}, {2, -0.232F}},
         "1 0.16 0.000 0.160|2 -0.23 0.000 -0.232|",
         "-0.232"},
        // Equal magnitudes: the first wins, whichever its sign.
        {{0, 0, 0, 0},
         {{1, 0.5F}, {2, -0.5F}},
         "1 0.50 0.000 0.500|2 -0.50 0.000 -0.500|",
         "0.500"},
        {{0, 0, 0, 0},
         {{1, -0.5F}, {2, 0.5F}, {3, 0.25F}},
         "1 -0.50 0.000 -0.500|2 0.50 0.000 0.500|3 0.25 0.000 0.250|",
         "-0.500"},
        {{0, 0, 0, 0}, {}, "", "0.000"},
        // Faulted rows show the error text and take no part in the maximum;
        // the rows after them are computed for themselves. Raw 99999 gives
        // 1e45, a double whose deviation no single holds.
        {{1e30, 0, 0, 0},
         {{0, 2.5F}, {99999, 0}, {0, 10}},
         "0 2.50 0.000 2.500|99999 0.00 Chyba výpočtu Chyba výpočtu|0 10.00 0.000 10.000|",
         "10.000"},
        {{1e300, 0, 0, 0}, {{99999, 5}}, "99999 5.00 Chyba výpočtu Chyba výpočtu|", "0.000"},
        {{0, 0, 0, 1e39}, {{5, 5}}, "5 5.00 Chyba výpočtu Chyba výpočtu|", "0.000"},
        {{Inf, 0, 0, 0},
         {{0, 5}, {1, 5}},
         "0 5.00 Chyba výpočtu Chyba výpočtu|1 5.00 INF -INF|",
         "-INF"},
        {{0, 0, Inf, -Inf}, {{1, 5}}, "1 5.00 Chyba výpočtu Chyba výpočtu|", "0.000"},
        {{0, 0, SNaN, 0}, {{1, 5}}, "1 5.00 Chyba výpočtu Chyba výpočtu|", "0.000"},
        {{0, 0, 0, QNaN}, {{1, 5}}, "1 5.00 NAN NAN|", "0.000"},
    };
    for (const Case& c : cases) {
        for (const char sep : {'.', ','}) {
            const Listing listing = MakeListing(sensor2(c.points, c.cubic), 2, sep);
            std::string rows;
            for (const ListingRow& row : listing.Rows) {
                rows += row.Raw + " " + row.TrueTemp + " " + row.Fitted + " " + row.Deviation + "|";
                EXPECT_EQ(row.Faulted, row.Fitted == EvaluationError);
            }
            std::string want = c.rows;
            std::string largest = c.largest;
            std::replace(want.begin(), want.end(), '.', sep);
            std::replace(largest.begin(), largest.end(), '.', sep);
            EXPECT_EQ(rows, want);
            EXPECT_EQ(listing.MaxDeviation, largest);
        }
    }
}

TEST(Listing, ShowsAtMostThirtyRows) {
    Points points;
    for (int k = 1; k <= 30; ++k) {
        points.push_back({k, static_cast<float>(k)});
    }
    SensorParamSet params = sensor2(points, {0, 0, 1, 0});
    for (const int count : {30, 31, 200, 255}) {
        params.Count(2) = static_cast<std::uint8_t>(count);
        const Listing listing = MakeListing(params, 2);
        ASSERT_EQ(listing.Rows.size(), 30U) << count;
        EXPECT_EQ(listing.Rows.back().Raw, "30");
        EXPECT_EQ(listing.Rows.back().Deviation, "0.000");
    }
}

SensorParamSet::Image randomImage(std::mt19937& random) {
    std::uniform_int_distribution<int> byte(0, 255);
    SensorParamSet::Image image;
    std::generate(image.begin(), image.end(),
                  [&] { return static_cast<std::uint8_t>(byte(random)); });
    return image;
}

// The image of `user` after `sensors` were taken from `work`: the bytes of
// each taken sensor (its points, coefficients and Count) come from the
// working copy and its flag becomes 1; every other byte, the padding
// included, stays.
SensorParamSet::Image afterTaking(const SensorParamSet::Image& work,
                                  const SensorParamSet::Image& user,
                                  const std::vector<int>& sensors) {
    SensorParamSet::Image expected = user;
    for (const int s : sensors) {
        for (const auto& [offset, size] : SensorRanges(s)) {
            std::copy_n(work.begin() + static_cast<std::ptrdiff_t>(offset), size,
                        expected.begin() + static_cast<std::ptrdiff_t>(offset));
        }
        expected[CalibratedByte(s)] = 1;
    }
    return expected;
}

// Over random images of both sets, each sensor in turn.
TEST(TakeSensor, TakesExactlyTheBytesOfOneSensor) {
    std::mt19937 random(16);
    for (int round = 0; round < 50; ++round) {
        const SensorParamSet::Image work = randomImage(random);
        const SensorParamSet::Image user = randomImage(random);
        for (int s = 1; s <= 3; ++s) {
            SCOPED_TRACE(s);
            SensorParamSet taken = SensorParamSet::FromBytes(user);
            TakeSensor(SensorParamSet::FromBytes(work), taken, s);
            EXPECT_EQ(taken.ToBytes(), afterTaking(work, user, {s}));
        }
    }
}

// Over random images and every set of fitted sensors (with numbers that name
// no sensor among them): exactly the fitted sensors are taken, in order, and
// every other sensor keeps the user set's bytes.
TEST(CommitFitted, TakesTheFittedSensorsAndKeepsEveryOther) {
    std::mt19937 random(1616);
    for (int round = 0; round < 50; ++round) {
        const SensorParamSet::Image work = randomImage(random);
        const SensorParamSet::Image user = randomImage(random);
        for (unsigned subset = 0; subset < 8; ++subset) {
            std::set<int> fitted = {0, 4, -1};
            std::vector<int> sensors;
            for (int s = 3; s >= 1; --s) {
                if ((subset & (1U << (s - 1))) != 0) {
                    fitted.insert(s);
                    sensors.insert(sensors.begin(), s);
                }
            }
            SCOPED_TRACE(subset);
            SensorParamSet committed = SensorParamSet::FromBytes(user);
            EXPECT_EQ(CommitFitted(SensorParamSet::FromBytes(work), committed, fitted), sensors);
            EXPECT_EQ(committed.ToBytes(), afterTaking(work, user, sensors));
        }
    }
}

TEST(PolynomialLine, CoefficientsInGeneralFormat) {
    EXPECT_EQ(PolynomialLine({1, 0, 0, 1}), "y = 1*x^3 + 0*x^2 + 0*x + 1");
    EXPECT_EQ(PolynomialLine({2.5e-12, 1.5e-7, -3.3e-8, -50.25}),
              "y = 2.5E-12*x^3 + 1.5E-7*x^2 + -3.3E-8*x + -50.25");
    EXPECT_EQ(PolynomialLine({-1.2345678912e-14, 0.0001234, 0.0025, 123456789}, ','),
              "y = -1,2345679E-14*x^3 + 0,0001234*x^2 + 0,0025*x + 1,2345679E8");
    EXPECT_EQ(PolynomialLine({-0.0, Inf, -Inf, QNaN}), "y = 0*x^3 + INF*x^2 + -INF*x + NAN");
}

// ---------------------------------------------------------------------------

TEST(ParseTemperature, AcceptedTextsAreRoundedToSingle) {
    struct Case {
        const char* text;
        char sep;
        float value;
    };
    const float tiny = std::numeric_limits<float>::denorm_min();
    const Case cases[] = {
        {"21.5", '.', 21.5F},
        {"1,5", ',', 1.5F},
        {" 7 ", '.', 7},
        {"  -12.25  ", '.', -12.25F},
        {"+.5", '.', 0.5F},
        {"5.", '.', 5},
        {"-,5", ',', -0.5F},
        {"007", '.', 7},
        {"2.5E-2", '.', 0.025F},
        {"1e+2", '.', 100},
        {"0.001e3", '.', 1},
        {"-0", '.', -0.0F},
        {"0e99999999999999999999", '.', 0},
        // Not every typed value is stored as typed.
        {"0.1", '.', 0.1F},
        {"16777217", '.', 16777216},
        {"16777219", '.', 16777220},
        {"1e-40", '.', 1e-40F},
        {"1e-45", '.', tiny},
        // Too small for a single: a zero of its sign.
        {"-1e-50", '.', -0.0F},
        {"1e-46", '.', 0},
        {"100e-50", ',', 0},
        {"0.0001e-99999999999", '.', 0},
        // The largest single, and up to just below the middle between it and 2^128.
        {"3.40282346638528859811704183484516925440e38", '.', FLT_MAX},
        {"3.4028235e38", '.', FLT_MAX},
        {"-340282356779733661637539395458142568447", '.', -FLT_MAX}};
    for (const Case& c : cases) {
        const std::optional<float> got = ParseTemperature(c.text, c.sep);
        ASSERT_TRUE(got) << '"' << c.text << '"';
        EXPECT_EQ(std::bit_cast<std::uint32_t>(*got), std::bit_cast<std::uint32_t>(c.value))
            << '"' << c.text << "\" " << *got;
    }
}

TEST(ParseTemperature, RefusedTexts) {
    // The middle between the largest single and 2^128 and beyond are out of
    // range; the rest is no number.
    for (const char* text : {"340282356779733661637539395458142568448",
                             "3.4028236e38",
                             "-3.4028236E38",
                             "1e39",
                             "0.1e40",
                             "1e99999999999999999999",
                             "",
                             "   ",
                             "1.2.3",
                             "1..5",
                             "1,5",
                             ".",
                             "-",
                             "+-1",
                             "1e",
                             "1e+",
                             "1E-",
                             "e5",
                             "21.5x",
                             "21.5 °C",
                             "2 1",
                             "0x10",
                             "inf",
                             "nan",
                             "1e5.5"}) {
        EXPECT_FALSE(ParseTemperature(text, '.')) << '"' << text << '"';
    }
    EXPECT_FALSE(ParseTemperature("1.5", ','));
    EXPECT_FALSE(ParseTemperature(std::string_view("5\0", 2), '.'));
}

// ---------------------------------------------------------------------------

TEST_F(CallerEnvironment, CalibrationLeavesTheFlagsAsTheCallerHadThem) {
    const Points points = {{10000, 0}, {30000, 20}, {60000, 50}, {90000, 80}};
    const SensorParamSet faulty = sensor2(points, {1e30, 0, 0, SNaN});
    for (const int flags : {0, FE_DIVBYZERO, FE_INEXACT | FE_UNDERFLOW, FE_ALL_EXCEPT}) {
        std::feclearexcept(FE_ALL_EXCEPT);
        std::feraiseexcept(flags);
        EXPECT_TRUE(FitCubic(sensor2(points), 2, 4));
        EXPECT_FALSE(FitCubic(sensor2({{100, 1}, {100, 2}, {100, 3}, {100, 4}}), 2, 4));
        EXPECT_FALSE(FittedTemperature({1e300, 0, 0, 0}, 99999));
        EXPECT_TRUE(MakeFitReport(faulty, 2, 4).Faulted);
        EXPECT_TRUE(MakeListing(faulty, 2).Rows[1].Faulted);
        EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), flags);
    }
}

TEST_F(CallerEnvironment, CalibrationIsTheSameWhateverTheCallerRounds) {
    const Points points = {
        {12, -195.3F}, {20000, 0.1F}, {40000, 20}, {60000, 333.3F}, {99999, 999}};
    const auto want = FitCubic(sensor2(points), 2, 5);
    ASSERT_TRUE(want);
    const std::string largest = MakeFitReport(sensor2(points, *want), 2, 5).MaxDeviation;
    for (const int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        std::fesetround(mode);
        EXPECT_EQ(FitCubic(sensor2(points), 2, 5), want);
        EXPECT_EQ(MakeFitReport(sensor2(points, *want), 2, 5).MaxDeviation, largest);
        EXPECT_EQ(ParseTemperature("16777217", '.'), 16777216.0F);
        EXPECT_EQ(std::fegetround(), mode);
    }
#if defined(__x86_64__) || defined(__i386__)
    const unsigned short control = X87Control();
    SetX87Control(static_cast<unsigned short>((control & ~0x0300) | 0x0200)); // 53 bits
    const auto lowered = FitCubic(sensor2(points), 2, 5);
    const unsigned short after = X87Control();
    SetX87Control(control);
    EXPECT_EQ(lowered, want);
    EXPECT_EQ(after & 0x0300, 0x0200);
#endif
}

} // namespace
} // namespace zorm
