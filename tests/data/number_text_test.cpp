#include "data/number_text.h"

#include "tests/data/text_oracle.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace zorm {
namespace {

struct FixedCase {
    double v;
    int p;
    int d;
    const char* text; // with a full stop; the comma variant is derived
};

struct GeneralCase {
    double v;
    const char* text;
};

std::string withComma(std::string s) {
    for (char& c : s) {
        if (c == '.') {
            c = ',';
        }
    }
    return s;
}

void expectFixed(const std::vector<FixedCase>& cases) {
    for (const auto& c : cases) {
        EXPECT_EQ(fixed(c.v, c.p, c.d, '.'), c.text) << c.v << " p=" << c.p << " d=" << c.d;
        EXPECT_EQ(fixed(c.v, c.p, c.d, ','), withComma(c.text)) << c.v;
    }
}

void expectGeneral(const std::vector<GeneralCase>& cases) {
    for (const auto& c : cases) {
        EXPECT_EQ(general(c.v, 8, '.'), c.text) << c.v;
        EXPECT_EQ(general(c.v, 8, ','), withComma(c.text)) << c.v;
    }
}

TEST(FixedFormat, WritesTemperaturesWithTheirDecimals) {
    expectFixed({
        {12345.678, 6, 2, "12345.70"},
        {21.5, 6, 2, "21.50"},
        {12345.0, 6, 2, "12345.00"},
        {-40.0, 6, 2, "-40.00"},
        {0.25, 6, 2, "0.25"},
        {-0.5, 6, 3, "-0.500"},
        {123456.4, 6, 2, "123456.00"},
        {0.0, 6, 2, "0.00"},
    });
}

TEST(FixedFormat, ZeroHasNoSign) {
    expectFixed({
        {-0.001, 6, 2, "0.00"},
        {-0.0, 6, 2, "0.00"},
        {-0.004999, 6, 2, "0.00"},
        {0.0004999, 6, 3, "0.000"},
        {-0.0004999, 6, 3, "0.000"},
        {-4.9e-5, 6, 4, "0.0000"},
        {std::numeric_limits<double>::denorm_min(), 6, 2, "0.00"},
        {-1e-300, 5, 3, "0.000"},
    });
}

TEST(FixedFormat, GoesScientificWithMoreDigitsThanThePrecision) {
    expectFixed({
        {1234567.0, 6, 2, "1.23457E06"},
        {999969989328896.0, 6, 2, "9.9997E14"},
        {1e20, 6, 2, "1E20"},
        {-2.5e7, 6, 2, "-2.5E07"},
        {1.5e100, 6, 2, "1.5E100"},
        {1234567.0, 6, 3, "1.23457E006"},
        {1234567.0, 6, 4, "1.23457E0006"},
        {123456.0, 5, 3, "1.2346E005"},
        {std::numeric_limits<double>::max(), 6, 2, "1.79769E308"},
    });
}

TEST(FixedFormat, RoundsHalvesAwayFromZeroAtEachPrecision) {
    expectFixed({
        // Ties of the binary value itself.
        {0.125, 6, 2, "0.13"},
        {-0.125, 6, 2, "-0.13"},
        {2.125, 6, 2, "2.13"},
        {1234.125, 6, 2, "1234.13"},
        {12345.25, 6, 2, "12345.30"},
        {0.0625, 6, 3, "0.063"},
        {-0.0625, 6, 3, "-0.063"},
        {12.0625, 5, 3, "12.063"},
        {123.125, 5, 3, "123.130"},
        {1234.5625, 5, 3, "1234.600"},
        {0.03125, 6, 4, "0.0313"},
        {-12.03125, 6, 4, "-12.0313"},
        {0.0005, 6, 3, "0.001"},
        // Ties only once the value is cut to 18 digits: the binary value lies
        // just below the half.
        {1000.005, 6, 2, "1000.01"},
        {1000.255, 6, 2, "1000.26"},
        {0.1245, 6, 3, "0.125"},
        {0.2495, 5, 3, "0.250"},
        {0.02265, 6, 4, "0.0227"},
        {-0.02265, 6, 4, "-0.0227"},
        // Below the half at 18 digits as well.
        {2.675, 6, 2, "2.67"},
        {1.005, 6, 2, "1.00"},
    });
}

TEST(FixedFormat, CarriesIntoANewDigit) {
    expectFixed({
        {9.999995, 6, 2, "10.00"},
        {99.995, 6, 3, "99.995"},
        {0.9999, 6, 3, "1.000"},
        {-0.99995, 5, 3, "-1.000"},
        {99999.96, 6, 2, "100000.00"},
        {999999.4, 6, 2, "999999.00"},
        // The carry leaves seven digits before the point.
        {999999.5, 6, 2, "1E06"},
        {-999999.5, 6, 2, "-1E06"},
        {9999995.0, 6, 2, "1E07"},
        {99999.5, 5, 3, "1E005"},
    });
}

TEST(GeneralFormat, WritesCoefficients) {
    expectGeneral({
        {0.0, "0"},
        {-0.0, "0"},
        {1.0, "1"},
        {-12.5, "-12.5"},
        {0.0025, "0.0025"},
        {0.0001234, "0.0001234"},
        {0.0001, "0.0001"},
        {0.00001234, "1.234E-5"},
        {2.5e-5, "2.5E-5"},
        {1.234567891e-12, "1.2345679E-12"},
        {-3.3e-8, "-3.3E-8"},
        {1.5e7, "15000000"},
        {12345678.9, "12345679"},
        {99999999.0, "99999999"},
        {100000000.0, "1E8"},
        {1.2345679e8, "1.2345679E8"},
        {1.7976931348623157e308, "1.7976931E308"},
        {4.9406564584124654e-324, "4.9406565E-324"},
    });
}

TEST(GeneralFormat, RoundsHalvesAwayFromZeroAndSwitchesAfterTheCarry) {
    expectGeneral({
        {12345676.5, "12345677"},
        {-12345676.5, "-12345677"},
        {12345678.5, "12345679"},
        {0.0100000565, "0.010000057"},
        {0.0100001125, "0.010000113"},
        // Rounding to eight digits reaches 10^8: scientific.
        {99999999.5, "1E8"},
        {-99999999.5, "-1E8"},
        // Rounding reaches 0.0001 from below: plain.
        {0.000099999999995, "0.0001"},
        {0.0000999999994, "9.9999999E-5"},
        {9.9999999951, "10"},
        {9.99999995, "9.9999999"},
    });
}

TEST(NumberTexts, WriteValuesThatAreNotFinite) {
    const double inf = std::numeric_limits<double>::infinity();
    const double qnan = std::numeric_limits<double>::quiet_NaN();
    const double snan = std::numeric_limits<double>::signaling_NaN();
    EXPECT_EQ(fixed(inf, 6, 2), "INF");
    EXPECT_EQ(fixed(-inf, 6, 2), "-INF");
    EXPECT_EQ(fixed(qnan, 6, 2), "NAN");
    EXPECT_EQ(fixed(-qnan, 6, 2), "-NAN");
    EXPECT_EQ(fixed(snan, 6, 2), "NAN");
    EXPECT_EQ(general(inf, 8), "INF");
    EXPECT_EQ(general(-inf, 8, ','), "-INF");
    EXPECT_EQ(general(qnan, 8), "NAN");
    EXPECT_EQ(general(-qnan, 8), "-NAN");
    EXPECT_EQ(general(std::bit_cast<double>(0xFFF0000000000001ULL), 8), "-NAN");
}

TEST(NumberTexts, TakeThePrecisionWithinOneToEighteenDigits) {
    EXPECT_EQ(general(0.1, 18), "0.100000000000000006");
    EXPECT_EQ(general(0.1, 40), "0.100000000000000006");
    EXPECT_EQ(general(1234.0, 0), "1E3");
    EXPECT_EQ(fixed(21.456, 6, 0), "21");
    EXPECT_EQ(fixed(0.4, 6, 0), "0");
    EXPECT_EQ(fixed(1.0 / 3.0, 18, 30), "0.333333333333333315");
}

// Values that stress the formats: all magnitudes, both signs, ties in binary
// and in decimal, and the neighbourhoods of the points where the rounding
// carries or the form changes.
std::vector<double> stressValues() {
    std::mt19937_64 rng(0x5816A);
    std::vector<double> values;
    auto add = [&](double v) {
        values.push_back(v);
        values.push_back(-v);
        values.push_back(std::nextafter(v, 0.0));
        values.push_back(std::nextafter(v, 2 * v + 1));
    };
    std::uniform_int_distribution<std::uint64_t> anyBits(0, 0x7FEFFFFFFFFFFFFFULL);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<int> power(-12, 17);
    for (int i = 0; i < 4000; ++i) {
        add(std::bit_cast<double>(anyBits(rng)));
        add(std::pow(10.0, power(rng) + unit(rng)));
    }
    // Decimal ties: k5 x 10^-j, and binary ties: odd / 2^j.
    std::uniform_int_distribution<std::int64_t> mantissa(1, 99999999);
    std::uniform_int_distribution<int> shift(1, 12);
    for (int i = 0; i < 2000; ++i) {
        add(static_cast<double>(mantissa(rng) * 10 + 5) / std::pow(10.0, shift(rng)));
        add(std::ldexp(static_cast<double>(mantissa(rng) | 1), -shift(rng)));
    }
    for (int k = -6; k <= 12; ++k) {
        const double p10 = std::pow(10.0, k);
        add(p10);
        for (const double f : {0.5, 0.95, 0.995, 0.9995, 0.99995, 0.999995, 0.9999995, 0.99999995,
                               0.999999995, 0.9999999995}) {
            add(p10 * f);
        }
    }
    return values;
}

TEST(NumberTexts, AgreeWithExactDecimalArithmetic) {
    struct Format {
        int p;
        int d;
    };
    const std::vector<Format> usedFixed = {{6, 2}, {6, 3}, {5, 3}, {6, 4}};
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> anyP(1, 18);
    std::uniform_int_distribution<int> anyD(0, 18);
    int failures = 0;
    const auto values = stressValues();
    for (std::size_t i = 0; i < values.size() && failures < 20; ++i) {
        const double v = values[i];
        const char sep = i % 3 == 0 ? ',' : '.';
        auto check = [&](const std::string& got, const std::string& want, const char* what, int p,
                         int d) {
            if (got != want) {
                ++failures;
                ADD_FAILURE() << what << "(" << std::hexfloat << v << std::defaultfloat << " = "
                              << v << ", " << p << ", " << d << "): got " << got << ", want "
                              << want;
            }
        };
        for (const auto& f : usedFixed) {
            check(fixed(v, f.p, f.d, sep), oracle::fixed(v, f.p, f.d, sep), "fixed", f.p, f.d);
        }
        check(general(v, 8, sep), oracle::general(v, 8, sep), "general", 8, 0);
        const int p = anyP(rng);
        const int d = anyD(rng);
        check(fixed(v, p, d, sep), oracle::fixed(v, p, d, sep), "fixed", p, d);
        check(general(v, p, sep), oracle::general(v, p, sep), "general", p, 0);
    }
    EXPECT_GT(values.size(), 40000U);
}

} // namespace
} // namespace zorm
