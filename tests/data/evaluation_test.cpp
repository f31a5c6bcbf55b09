#include "data/evaluation.h"

#include "data/number_text.h"
#include "tests/support/binary_model.h"
#include "tests/support/caller_environment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <utility>

namespace zorm {
namespace {

using namespace test;

struct Cubic {
    double a3 = 0;
    double a2 = 0;
    double a1 = 0;
    double a0 = 0;
};

SensorParamSet withCubic(int sensor, const Cubic& c) {
    SensorParamSet params;
    params.Coefficients.A3(sensor) = c.a3;
    params.Coefficients.A2(sensor) = c.a2;
    params.Coefficients.A1(sensor) = c.a1;
    params.Coefficients.A0(sensor) = c.a0;
    return params;
}

std::string temperature(const Cubic& c, std::int32_t raw, char sep = '.') {
    std::string text;
    FormatTemperature(withCubic(1, c), raw, 1, text, sep);
    return text;
}

// ---------------------------------------------------------------------------
// The four steps in the integer model of the arithmetic.

std::optional<float> modelCubic(const Cubic& c, std::int32_t raw, int bits = 64) {
    const Binary x = fromInt(raw);
    auto t = toSingle(multiply(multiply(multiply(x, fromDouble(c.a3), bits), x, bits), x, bits));
    if (t) {
        t = toSingle(
            add(multiply(multiply(x, fromDouble(c.a2), bits), x, bits), fromFloat(*t), bits));
    }
    if (t) {
        t = toSingle(add(multiply(x, fromDouble(c.a1), bits), fromFloat(*t), bits));
    }
    if (t) {
        t = toSingle(add(fromFloat(*t), fromDouble(c.a0), bits));
    }
    return t;
}

// Compares the evaluation of one cubic with the model, value and text.
::testing::AssertionResult matchesModel(const Cubic& c, std::int32_t raw) {
    const auto want = modelCubic(c, raw);
    float got = 0;
    const bool ok = EvaluateCubic(withCubic(2, c).Coefficients, raw, 2, got);
    const std::string text = [&] {
        std::string s;
        FormatTemperature(withCubic(2, c), raw, 2, s);
        return s;
    }();
    auto describe = [&] {
        return ::testing::AssertionFailure()
               << std::hexfloat << "A3=" << c.a3 << " A2=" << c.a2 << " A1=" << c.a1
               << " A0=" << c.a0 << " raw=" << std::dec << raw << ": ";
    };
    if (!want) {
        if (ok || text != EvaluationError) {
            return describe() << "expected a fault, got " << got << " \"" << text << "\"";
        }
        return ::testing::AssertionSuccess();
    }
    if (!ok) {
        return describe() << "unexpected fault, want " << *want;
    }
    if (std::bit_cast<std::uint32_t>(got) != std::bit_cast<std::uint32_t>(*want)) {
        return describe() << std::hexfloat << "got " << got << ", want " << *want;
    }
    if (text != fixed(*want, 6, 2)) {
        return describe() << "text \"" << text << "\"";
    }
    return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------

TEST(FormatTemperature, FreshInstallationReadsZero) {
    for (const std::int32_t raw : {0, 1, 12345, 99999, -5, std::numeric_limits<std::int32_t>::min(),
                                   std::numeric_limits<std::int32_t>::max()}) {
        EXPECT_EQ(temperature({}, raw), "0.00") << raw;
    }
}

TEST(FormatTemperature, IdentityPolynomialGivesTheRawValue) {
    const Cubic identity{0, 0, 1, 0};
    EXPECT_EQ(temperature(identity, 12345), "12345.00");
    EXPECT_EQ(temperature(identity, 12345, ','), "12345,00");
    EXPECT_EQ(temperature(identity, 0), "0.00");
    EXPECT_EQ(temperature(identity, 99999), "99999.00");
    EXPECT_EQ(temperature(identity, -12345), "-12345.00");
    EXPECT_EQ(temperature(identity, 1234567), "1.23457E06");
}

TEST(FormatTemperature, EvaluatesTheSelectedSensor) {
    SensorParamSet params;
    params.Coefficients.A1(1) = 1;
    params.Coefficients.A1(2) = 2;
    params.Coefficients.A0(2) = 0.25;
    params.Coefficients.A2(3) = -1;
    std::string text;
    FormatTemperature(params, 100, 1, text);
    EXPECT_EQ(text, "100.00");
    FormatTemperature(params, 100, 2, text);
    EXPECT_EQ(text, "200.25");
    FormatTemperature(params, 100, 3, text, ',');
    EXPECT_EQ(text, "-10000,00");
}

TEST(FormatTemperature, SensorOutsideTheTablesIsAnError) {
    SensorParamSet params;
    params.Coefficients.A1(1) = 1;
    for (const int sensor : {0, 4, -1, 255, std::numeric_limits<int>::min()}) {
        std::string text = "before";
        FormatTemperature(params, 10, sensor, text);
        EXPECT_EQ(text, EvaluationError) << sensor;
        float t = 42;
        EXPECT_FALSE(EvaluateCubic(params.Coefficients, 10, sensor, t));
        EXPECT_EQ(t, 42);
    }
}

TEST(FormatTemperature, CubeThatFitsSingleGoesScientific) {
    EXPECT_EQ(temperature({1, 0, 0, 0}, 99999), "9.9997E14");
    EXPECT_EQ(temperature({1, 0, 0, 0}, 99999, ','), "9,9997E14");
    EXPECT_EQ(temperature({1, 0, 0, 0}, -99999), "-9.9997E14");
    float t = 0;
    ASSERT_TRUE(EvaluateCubic(withCubic(1, {1, 0, 0, 0}).Coefficients, 99999, 1, t));
    EXPECT_EQ(t, 999969989328896.0F);
}

TEST(FormatTemperature, OverflowOfSingleIsAnError) {
    EXPECT_EQ(temperature({1e30, 0, 0, 0}, 99999), EvaluationError);
    EXPECT_EQ(temperature({0, 1e30, 0, 0}, 99999), EvaluationError);
    EXPECT_EQ(temperature({0, 0, 1e34, 0}, 99999), EvaluationError);
    EXPECT_EQ(temperature({0, 0, 0, -1e39}, 0), EvaluationError);
    EXPECT_EQ(temperature({1e300, 0, 0, 0}, 99999), EvaluationError);
    // An overflow in an early step is not undone by a later one.
    EXPECT_EQ(temperature({1e30, 0, 0, -Inf}, 99999), EvaluationError);
    // The largest single is fine; halfway to 2^128 rounds up and overflows.
    const double flt_max = std::numeric_limits<float>::max();
    const double halfway = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);
    EXPECT_EQ(temperature({0, 0, 0, flt_max}, 0), "3.40282E38");
    EXPECT_EQ(temperature({0, 0, 0, std::nextafter(halfway, 0.0)}, 0), "3.40282E38");
    EXPECT_EQ(temperature({0, 0, 0, halfway}, 0), EvaluationError);
    EXPECT_EQ(temperature({0, 0, 0, -halfway}, 0), EvaluationError);
}

TEST(FormatTemperature, InvalidOperationsAreErrors) {
    // Zero times infinity in each product.
    EXPECT_EQ(temperature({Inf, 0, 0, 0}, 0), EvaluationError);
    EXPECT_EQ(temperature({0, -Inf, 0, 0}, 0), EvaluationError);
    EXPECT_EQ(temperature({0, 0, Inf, 0}, 0), EvaluationError);
    // Infinity minus infinity.
    EXPECT_EQ(temperature({Inf, -Inf, 0, 0}, 2), EvaluationError);
    EXPECT_EQ(temperature({0, 0, Inf, -Inf}, 2), EvaluationError);
}

TEST(FormatTemperature, SignallingNaNCoefficientIsAnError) {
    for (const std::int32_t raw : {0, 7, -7}) {
        EXPECT_EQ(temperature({SNaN, 0, 0, 0}, raw), EvaluationError) << raw;
        EXPECT_EQ(temperature({0, SNaN, 0, 0}, raw), EvaluationError) << raw;
        EXPECT_EQ(temperature({0, 0, SNaN, 0}, raw), EvaluationError) << raw;
        EXPECT_EQ(temperature({0, 0, 0, SNaN}, raw), EvaluationError) << raw;
        EXPECT_EQ(temperature({0, 0, 0, -SNaN}, raw), EvaluationError) << raw;
    }
}

TEST(FormatTemperature, InfinityAndQuietNaNWithoutAFaultAreWritten) {
    EXPECT_EQ(temperature({0, 0, 0, Inf}, 12345), "INF");
    EXPECT_EQ(temperature({0, 0, 0, Inf}, 0), "INF");
    EXPECT_EQ(temperature({0, 0, 0, -Inf}, 12345), "-INF");
    EXPECT_EQ(temperature({Inf, 0, 0, 0}, 3), "INF");
    EXPECT_EQ(temperature({Inf, 0, 0, 0}, -3), "-INF");
    EXPECT_EQ(temperature({0, 0, 0, QNaN}, 100), "NAN");
    EXPECT_EQ(temperature({0, 0, 0, -QNaN}, 100), "-NAN");
    EXPECT_EQ(temperature({QNaN, 0, 0, 0}, 0), "NAN");
    EXPECT_EQ(temperature({0, QNaN, 1, 5}, 100), "NAN");
}

TEST(FormatTemperature, UnderflowIsNoFault) {
    EXPECT_EQ(temperature({0, 0, 0, 1e-40}, 0), "0.00");
    EXPECT_EQ(temperature({0, 0, 0, -1e-60}, 0), "0.00");
    EXPECT_EQ(temperature({1e-60, 0, 0, 0}, 99999), "0.00");
    EXPECT_EQ(temperature({0, 0, 0, -0.004}, 0), "0.00");
    EXPECT_EQ(temperature({0, 0, 0, -0.006}, 0), "-0.01");
    float t = 0;
    ASSERT_TRUE(EvaluateCubic(withCubic(1, {0, 0, 0, 1e-40}).Coefficients, 0, 1, t));
    EXPECT_EQ(t, 1e-40F);
}

TEST(FormatTemperature, RoundsToSingleAfterEachStep) {
    // Singles are 4 apart above 2^25. Step 3 rounds 2^25 + 1 down to 2^25,
    // and step 4 adds 1.5, which rounds away again. Rounded once at the end,
    // 2^25 + 2.5 would have become 2^25 + 4.
    const std::int32_t raw = (1 << 25) + 1;
    float t = 0;
    ASSERT_TRUE(EvaluateCubic(withCubic(1, {0, 0, 1, 1.5}).Coefficients, raw, 1, t));
    EXPECT_EQ(t, 33554432.0F);
    EXPECT_TRUE(matchesModel({0, 0, 1, 1.5}, raw));
}

TEST(FormatTemperature, MultipliesInTheGivenOrder) {
    // Inputs whose exact cubic or square term lies so close to the middle
    // between two singles that the roundings of the extended products decide.
    // Each is checked to come out differently when x * x is formed first.
    struct Case {
        std::int32_t raw;
        double a3;
        double a2;
    };
    for (const Case& k :
         {Case{41769, 0x1.322256c3b75a7p-33, 0}, Case{16179, 0x1.8e392a1cc583ep-28, 0},
          Case{14879, 0, 0x1.eff6bd0defe85p-14}, Case{22296, 0, 0x1.cf6e1eacd372bp+11}}) {
        const Binary x = fromInt(k.raw);
        const Binary square = multiply(x, x, 64);
        const auto squareFirst =
            k.a3 != 0 ? toSingle(multiply(square, multiply(x, fromDouble(k.a3), 64), 64))
                      : toSingle(multiply(square, fromDouble(k.a2), 64));
        const Cubic c{k.a3, k.a2, 0, 0};
        ASSERT_NE(squareFirst, modelCubic(c, k.raw)) << k.raw;
        EXPECT_TRUE(matchesModel(c, k.raw));
    }
}

TEST(FormatTemperature, AddsInExtendedPrecision) {
    // 2^24 + 1 + 2^-38 needs 63 bits. Kept whole, it lies above the middle
    // between the singles 2^24 and 2^24 + 2 and rounds up; cut to a double it
    // would be exactly the middle and round to the even 2^24.
    const Cubic c{0, 0, 1, 1 + std::ldexp(1.0, -38)};
    float t = 0;
    ASSERT_TRUE(EvaluateCubic(withCubic(1, c).Coefficients, 1 << 24, 1, t));
    EXPECT_EQ(t, 16777218.0F);
    EXPECT_TRUE(matchesModel(c, 1 << 24));
}

// Pt100 and thermocouple shaped calibrations over the converter's range, and
// coefficients of every magnitude over all raw values.
TEST(FormatTemperature, AgreesWithExactModelOnRandomCubics) {
    std::mt19937_64 rng(5816);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<std::int32_t> converterRaw(0, 99999);
    std::uniform_int_distribution<std::int32_t> anyRaw(std::numeric_limits<std::int32_t>::min(),
                                                       std::numeric_limits<std::int32_t>::max());
    std::uniform_int_distribution<int> anyExponent(-1100, 1023);
    std::uniform_int_distribution<int> smallExponent(-160, 40);
    auto around = [&](double scale) { return scale * (1 + unit(rng)); };
    int failures = 0;
    int values = 0;
    int faults = 0;
    int edgeFaults = 0;
    for (int i = 0; i < 20000 && failures < 10; ++i) {
        const Cubic realistic{around(1e-14) * (i % 2 ? 1 : -1), around(1e-9) * unit(rng),
                              around(0.005), around(-50) + 30 * unit(rng)};
        const Cubic wild{std::ldexp(unit(rng), anyExponent(rng) / 4),
                         std::ldexp(unit(rng), anyExponent(rng) / 3),
                         std::ldexp(unit(rng), anyExponent(rng) / 2),
                         std::ldexp(unit(rng), anyExponent(rng))};
        const Cubic moderate{std::ldexp(unit(rng), smallExponent(rng) - 60),
                             std::ldexp(unit(rng), smallExponent(rng) - 30),
                             std::ldexp(unit(rng), smallExponent(rng)),
                             std::ldexp(unit(rng), smallExponent(rng))};
        // x^3 * A3 right at the top of the single range.
        const double cube = std::pow(static_cast<double>(converterRaw(rng) + 1), 3);
        const Cubic edge{std::numeric_limits<float>::max() / cube * (1 + unit(rng) * 1e-7), 0, 0,
                         0};
        for (const auto& [c, raw] :
             {std::pair{realistic, converterRaw(rng)}, std::pair{wild, anyRaw(rng)},
              std::pair{wild, converterRaw(rng)}, std::pair{moderate, anyRaw(rng)},
              std::pair{edge, static_cast<std::int32_t>(std::cbrt(cube) + 0.5)}}) {
            const auto result = matchesModel(c, raw);
            EXPECT_TRUE(result);
            failures += result ? 0 : 1;
            if (modelCubic(c, raw)) {
                ++values;
            } else {
                ++faults;
                edgeFaults += c.a3 == edge.a3 ? 1 : 0;
            }
        }
    }
    // Both outcomes are exercised, on both sides of the overflow edge.
    EXPECT_GT(values, 50000);
    EXPECT_GT(faults, 30000);
    EXPECT_GT(edgeFaults, 3000);
    EXPECT_LT(edgeFaults, 17000);
}

// A sensor whose four coefficients are all zero, negative zeros included,
// has no calibration and says so; any other coefficient, the smallest
// denormal or a NaN, is evaluated as FormatTemperature evaluates it.
TEST(CelsiusText, NotCalibratedOnlyWhereAllFourCoefficientsAreZero) {
    SensorParamSet params;
    params.Coefficients.A1(2) = 1;
    params.Coefficients.A3(3) = -0.0;
    params.Coefficients.A0(3) = -0.0;
    EXPECT_EQ(CelsiusText(params, 1234, 1), NotCalibrated);
    EXPECT_EQ(CelsiusText(params, 1234, 2, ','), "1234,00");
    EXPECT_EQ(CelsiusText(params, 1234, 3), NotCalibrated);
    EXPECT_EQ(CelsiusText(params, 0, 1), NotCalibrated);

    const double denormal = std::numeric_limits<double>::denorm_min();
    for (int power = 0; power < 4; ++power) {
        for (const double value : {denormal, -1e-300, 1.0, 1e300, QNaN, Inf}) {
            Cubic c;
            (power == 0 ? c.a3 : power == 1 ? c.a2 : power == 2 ? c.a1 : c.a0) = value;
            const SensorParamSet one = withCubic(1, c);
            std::string want;
            FormatTemperature(one, 99999, 1, want);
            EXPECT_EQ(CelsiusText(one, 99999, 1), want) << power << " " << value;
            EXPECT_NE(want, NotCalibrated);
        }
    }
    // A sensor outside the tables is the evaluation's error, as before.
    EXPECT_EQ(CelsiusText(params, 1234, 4), EvaluationError);
}

// ---------------------------------------------------------------------------
// The caller's floating-point environment.

// Comparing a signalling NaN with zero is an invalid operation.
TEST_F(CallerEnvironment, TellingAnUncalibratedSensorNeitherTrapsNorLeavesFlags) {
    std::feclearexcept(FE_ALL_EXCEPT);
#ifdef __GLIBC__ // feenableexcept and its kin are glibc's own
    feenableexcept(FE_INVALID);
#endif
    EXPECT_EQ(CelsiusText(withCubic(1, {0, 0, SNaN, 0}), 1, 1), EvaluationError);
    EXPECT_EQ(CelsiusText(withCubic(1, {}), 1, 1), NotCalibrated);
#ifdef __GLIBC__
    fedisableexcept(FE_ALL_EXCEPT);
#endif
    EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), 0);
}

TEST_F(CallerEnvironment, FlagsAreLeftAsTheCallerHadThem) {
    const Cubic overflow{1e30, 0, 0, 0};
    const Cubic invalid{Inf, 0, 0, 0};
    const Cubic tiny{0, 0, 0, 1e-45};
    for (const int flags : {0, FE_DIVBYZERO, FE_INEXACT | FE_UNDERFLOW, FE_ALL_EXCEPT}) {
        std::feclearexcept(FE_ALL_EXCEPT);
        std::feraiseexcept(flags);
        EXPECT_EQ(temperature(overflow, 99999), EvaluationError);
        EXPECT_EQ(temperature(invalid, 0), EvaluationError);
        EXPECT_EQ(temperature(tiny, 0), "0.00");
        EXPECT_EQ(temperature({1e-14, 2e-9, 0.005, -50.3}, 54321), "228.81");
        float t = 0;
        EXPECT_FALSE(EvaluateCubic(withCubic(1, overflow).Coefficients, 99999, 1, t));
        EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), flags);
    }
}

#ifdef __x86_64__
TEST_F(CallerEnvironment, SseControlAndFlagsComeBackWhole) {
    // Widening the tiny result for its text raises the denormal flag, which
    // glibc's FE_ALL_EXCEPT leaves out; so the register itself is compared.
    constexpr unsigned int everyFlag = 0x3F;
    constexpr unsigned int roundUp = 0x4000;
    constexpr unsigned int flushToZero = 0x8000;
    for (const unsigned int caller :
         {0x1F80u, 0x1F80u | everyFlag, 0x1F80u | roundUp, 0x1F80u | flushToZero}) {
        SetSseControl(caller);
        EXPECT_EQ(temperature({0, 0, 0, 1e-45}, 0), "0.00");
        EXPECT_EQ(temperature({1e30, 0, 0, 0}, 99999), EvaluationError);
        EXPECT_EQ(SseControl(), caller);
    }
}
#endif

TEST_F(CallerEnvironment, EarlierFaultsDoNotSpoilAnEvaluation) {
    std::feraiseexcept(FE_OVERFLOW | FE_INVALID);
    EXPECT_EQ(temperature({0, 0, 1, 0}, 12345), "12345.00");
}

#ifdef __GLIBC__ // feenableexcept and its kin are glibc's own
TEST_F(CallerEnvironment, EnabledTrapsDoNotFireAndStayEnabled) {
    feenableexcept(FE_OVERFLOW | FE_INVALID);
    EXPECT_EQ(temperature({1e30, 0, 0, 0}, 99999), EvaluationError);
    EXPECT_EQ(temperature({SNaN, 0, 0, 0}, 1), EvaluationError);
    EXPECT_EQ(fegetexcept(), FE_OVERFLOW | FE_INVALID);
    fedisableexcept(FE_ALL_EXCEPT);
}
#elif defined(_WIN32) && defined(__x86_64__)
// Windows has no feenableexcept: the traps are unmasked in both control
// words directly, the x87 one and MXCSR, whose mask bits sit 7 places up.
TEST_F(CallerEnvironment, EnabledTrapsDoNotFireAndStayEnabled) {
    constexpr unsigned traps = FE_OVERFLOW | FE_INVALID;
    const auto x87 = static_cast<unsigned short>(X87Control() & ~traps);
    const unsigned sse = SseControl() & ~(traps << 7);
    SetX87Control(x87);
    SetSseControl(sse);
    EXPECT_EQ(temperature({1e30, 0, 0, 0}, 99999), EvaluationError);
    EXPECT_EQ(temperature({SNaN, 0, 0, 0}, 1), EvaluationError);
    EXPECT_EQ(X87Control(), x87);
    EXPECT_EQ(SseControl(), sse);
}
#endif

TEST_F(CallerEnvironment, RoundsToNearestWhateverTheCallerRounds) {
    // 2^24 + 1 is halfway between two singles: to nearest even gives 2^24,
    // upward 2^24 + 2.
    const Cubic identity{0, 0, 1, 0};
    for (const int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        std::fesetround(mode);
        float t = 0;
        ASSERT_TRUE(EvaluateCubic(withCubic(1, identity).Coefficients, (1 << 24) + 1, 1, t));
        EXPECT_EQ(t, 16777216.0F);
        EXPECT_TRUE(matchesModel({1e-14, 2e-9, 0.005, -50.3}, 77777));
        EXPECT_EQ(std::fegetround(), mode);
    }
}

#if defined(__x86_64__) || defined(__i386__)
TEST_F(CallerEnvironment, UsesFullExtendedPrecisionWhenTheCallerLoweredIt) {
    // 3 * A1 is 16777225 + 2^-29: halfway between the singles 16777224 and
    // 16777226, plus a little. 64 bits keep the little and round up; 53 bits
    // drop it, and the tie then goes to the even 16777224.
    const double a1 =
        std::ldexp(static_cast<double>(((std::uint64_t{16777225} << 29) + 1) / 3), -29);
    const Cubic c{0, 0, a1, 0};
    const std::int32_t raw = 3;
    ASSERT_EQ(modelCubic(c, raw, 64), 16777226.0F);
    ASSERT_EQ(modelCubic(c, raw, 53), 16777224.0F);
    const unsigned short control = X87Control();
    SetX87Control(static_cast<unsigned short>((control & ~0x0300) | 0x0200)); // 53 bits
    const auto result = matchesModel(c, raw);
    const unsigned short after = X87Control();
    SetX87Control(control);
    EXPECT_TRUE(result);
    EXPECT_EQ(after & 0x0300, 0x0200);
}
#endif

} // namespace
} // namespace zorm
