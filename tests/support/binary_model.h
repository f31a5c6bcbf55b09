// A model of binary floating-point arithmetic in integers, for cross-checks:
// every value is exactly (-1)^negative * m * 2^e, and each operation rounds
// to the given number of significant bits by hand, to nearest with ties to
// even. No long double and no hardware rounding is used. Inside an operation
// the exponent is unbounded (the 80-bit extended type's range is far beyond
// what products of a few doubles reach); the roundings to single and double
// bring in their ranges: denormals, and nothing on overflow.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>

namespace zorm::test {

// The values outside the model, for the tests of faults.
inline const double Inf = std::numeric_limits<double>::infinity();
inline const double QNaN = std::numeric_limits<double>::quiet_NaN();
inline const double SNaN = std::numeric_limits<double>::signaling_NaN();

__extension__ typedef unsigned __int128 Wide;

inline int bitLength(Wide m) {
    const auto high = static_cast<std::uint64_t>(m >> 64);
    if (high != 0) {
        return 128 - std::countl_zero(high);
    }
    return 64 - std::countl_zero(static_cast<std::uint64_t>(m));
}

struct Binary {
    bool negative = false;
    Wide m = 0;
    int e = 0;
};

inline Binary fromDouble(double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
    if (biased != 0) {
        m |= std::uint64_t{1} << 52;
    }
    return {(bits >> 63) != 0, m, (biased != 0 ? biased : 1) - 1075};
}

inline Binary fromFloat(float v) {
    return fromDouble(static_cast<double>(v));
}

inline Binary fromInt(std::int32_t raw) {
    const std::int64_t wide = raw;
    return {wide < 0, static_cast<Wide>(wide < 0 ? -wide : wide), 0};
}

// Nearest with ties to even, to `bits` significant bits.
inline Binary roundBits(Binary x, int bits) {
    const int n = bitLength(x.m);
    if (n <= bits) {
        return x;
    }
    int shift = n - bits;
    const Wide rem = x.m & ((Wide{1} << shift) - 1);
    const Wide half = Wide{1} << (shift - 1);
    Wide q = x.m >> shift;
    if (rem > half || (rem == half && (q & 1) != 0)) {
        ++q;
    }
    if (bitLength(q) > bits) {
        q >>= 1;
        ++shift;
    }
    return {x.negative, q, x.e + shift};
}

inline Binary multiply(const Binary& a, const Binary& b, int bits) {
    EXPECT_LE(bitLength(a.m) + bitLength(b.m), 128);
    return roundBits({a.negative != b.negative, a.m * b.m, a.e + b.e}, bits);
}

// Normalised so that the top bit is bit 125.
inline Binary normalised(const Binary& x) {
    const int up = 126 - bitLength(x.m);
    return {x.negative, x.m << up, x.e - up};
}

inline Binary add(const Binary& a, const Binary& b, int bits) {
    if (a.m == 0 && b.m == 0) {
        return {a.negative && b.negative, 0, 0};
    }
    if (a.m == 0) {
        return roundBits(b, bits);
    }
    if (b.m == 0) {
        return roundBits(a, bits);
    }
    Binary big = normalised(a);
    Binary small = normalised(b);
    if (small.e > big.e || (small.e == big.e && small.m > big.m)) {
        std::swap(big, small);
    }
    const int shift = big.e - small.e;
    Wide aligned = shift >= 127 ? 0 : small.m >> shift;
    if (shift >= 127 || (small.m & ((Wide{1} << shift) - 1)) != 0) {
        aligned |= 1; // the bits shifted out only tell which way to round
    }
    Binary sum{big.negative, 0, big.e};
    if (a.negative == b.negative) {
        sum.m = big.m + aligned;
    } else {
        sum.m = big.m - aligned;
        if (sum.m == 0) {
            sum.negative = false;
        }
    }
    return roundBits(sum, bits);
}

inline Binary subtract(const Binary& a, Binary b, int bits) {
    b.negative = !b.negative;
    return add(a, b, bits);
}

// a / b for a divisor of at most 60 significant bits (a double, a count):
// the dividend is widened to 127 bits, so that the quotient has at least 67
// and the remainder only has to tell which way to round.
inline Binary divide(const Binary& a, const Binary& b, int bits) {
    EXPECT_NE(b.m, 0);
    EXPECT_LE(bitLength(b.m), 60);
    if (a.m == 0 || b.m == 0) {
        return {a.negative != b.negative, 0, 0};
    }
    const int up = 127 - bitLength(a.m);
    const Wide dividend = a.m << up;
    const Wide q = dividend / b.m;
    const Wide sticky = dividend % b.m != 0 ? 1 : 0;
    return roundBits({a.negative != b.negative, (q << 1) | sticky, a.e - up - b.e - 1}, bits);
}

// Rounds to a format of `bits` significant bits whose smallest denormal is
// 2^lowest and whose values lie below 2^limit: nothing when it overflows.
inline std::optional<Binary> roundToFormat(const Binary& x, int bits, int lowest, int limit) {
    if (x.m == 0) {
        return x;
    }
    const int n = bitLength(x.m);
    const int msb = n - 1 + x.e;
    const int shift = std::max(msb - (bits - 1), lowest) - x.e;
    Binary r = x;
    if (shift > n) {
        r.m = 0; // below half of the smallest denormal
    } else if (shift > 0) {
        const Wide rem = x.m & ((Wide{1} << shift) - 1);
        const Wide half = Wide{1} << (shift - 1);
        r.m = x.m >> shift;
        if (rem > half || (rem == half && (r.m & 1) != 0)) {
            ++r.m;
        }
        r.e = x.e + shift;
    }
    if (r.m != 0 && bitLength(r.m) - 1 + r.e >= limit) {
        return std::nullopt;
    }
    return r;
}

inline std::optional<Binary> roundToDouble(const Binary& x) {
    return roundToFormat(x, 53, -1074, 1024);
}

// Rounding to single or double: nothing when it overflows.
inline std::optional<float> toSingle(const Binary& x) {
    const auto r = roundToFormat(x, 24, -149, 128);
    if (!r) {
        return std::nullopt;
    }
    const float magnitude = std::ldexp(static_cast<float>(r->m), r->e);
    return r->negative ? -magnitude : magnitude;
}

inline std::optional<double> toDouble(const Binary& x) {
    const auto r = roundToDouble(x);
    if (!r) {
        return std::nullopt;
    }
    const double magnitude = std::ldexp(static_cast<double>(r->m), r->e);
    return r->negative ? -magnitude : magnitude;
}

} // namespace zorm::test
