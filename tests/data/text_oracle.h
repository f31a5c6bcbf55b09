// A slow, independent model of the number texts for cross-checks: the exact
// decimal value of a double from big-integer arithmetic, rounded to 18
// significant digits, then the format rules applied with integer arithmetic.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string>
#include <vector>

namespace zorm::oracle {

// A nonnegative integer in base 10^9, least significant limb first.
class BigDecimal {
public:
    explicit BigDecimal(std::uint64_t v) {
        do {
            limbs_.push_back(static_cast<std::uint32_t>(v % Base));
            v /= Base;
        } while (v != 0);
    }
    void multiply(std::uint32_t factor) {
        std::uint64_t carry = 0;
        for (auto& limb : limbs_) {
            const std::uint64_t product = std::uint64_t{limb} * factor + carry;
            limb = static_cast<std::uint32_t>(product % Base);
            carry = product / Base;
        }
        while (carry != 0) {
            limbs_.push_back(static_cast<std::uint32_t>(carry % Base));
            carry /= Base;
        }
    }
    std::string digits() const {
        std::string s = std::to_string(limbs_.back());
        for (auto it = limbs_.rbegin() + 1; it != limbs_.rend(); ++it) {
            const std::string limb = std::to_string(*it);
            s += std::string(9 - limb.size(), '0') + limb;
        }
        return s;
    }

private:
    static constexpr std::uint64_t Base = 1000000000;
    std::vector<std::uint32_t> limbs_;
};

// All decimal digits of a value (the first one nonzero) and the power of ten
// of the first digit.
struct Exact {
    std::string digits;
    int exponent;
};

// Every decimal digit of a finite positive double.
inline Exact exactDigits(double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
    int e = -1074;
    if (biased != 0) {
        m |= std::uint64_t{1} << 52;
        e = biased - 1075;
    }
    BigDecimal big(m);
    if (e >= 0) {
        for (int left = e; left > 0; left -= 29) {
            big.multiply(std::uint32_t{1} << (left < 29 ? left : 29));
        }
        const std::string s = big.digits();
        return {s, static_cast<int>(s.size()) - 1};
    }
    // m * 2^e = m * 5^-e / 10^-e
    for (int left = -e; left > 0; left -= 13) {
        std::uint32_t factor = 1;
        for (int i = 0; i < (left < 13 ? left : 13); ++i) {
            factor *= 5;
        }
        big.multiply(factor);
    }
    const std::string s = big.digits();
    return {s, static_cast<int>(s.size()) - 1 + e};
}

// The value as n x 10^scale with n < 10^18: the exact expansion rounded to 18
// significant digits, ties to even.
struct Rounded18 {
    std::uint64_t n;
    int scale;
};

inline Rounded18 roundTo18(const Exact& x) {
    std::string head = x.digits.substr(0, 18);
    head.append(18 - head.size(), '0');
    std::uint64_t n = std::stoull(head);
    if (x.digits.size() > 18) {
        const std::string tail = x.digits.substr(18);
        const bool aboveHalf = tail[0] > '5' || (tail[0] == '5' && tail.find_first_not_of('0', 1) !=
                                                                       std::string::npos);
        const bool half = tail[0] == '5' && !aboveHalf;
        if (aboveHalf || (half && n % 2 == 1)) {
            ++n;
        }
    }
    int scale = x.exponent - 17;
    if (n == 1000000000000000000ULL) {
        n /= 10;
        ++scale;
    }
    return {n, scale};
}

inline std::uint64_t pow10(int k) {
    std::uint64_t r = 1;
    while (k-- > 0) {
        r *= 10;
    }
    return r;
}

// q x 10^place: rounds n x 10^scale half away from zero to a multiple of
// 10^place (place >= scale).
inline std::uint64_t roundToPlace(const Rounded18& r, int place) {
    const int k = place - r.scale;
    if (k > 18) {
        return 0;
    }
    const std::uint64_t unit = pow10(k);
    std::uint64_t q = r.n / unit;
    if (2 * (r.n % unit) >= unit) {
        ++q;
    }
    return q;
}

inline int decimalExponent(std::uint64_t q, int place) {
    return static_cast<int>(std::to_string(q).size()) - 1 + place;
}

// q x 10^place written plainly with at least `decimals` decimals shown.
inline std::string plain(std::uint64_t q, int place, int decimals, char sep) {
    std::string s = std::to_string(q);
    if (place >= 0) {
        s.append(static_cast<std::size_t>(place), '0');
        place = 0;
    }
    const auto fraction = static_cast<std::size_t>(-place);
    if (s.size() <= fraction) {
        s.insert(0, fraction - s.size() + 1, '0');
    }
    std::string integer = s.substr(0, s.size() - fraction);
    std::string decimalsText = s.substr(s.size() - fraction);
    if (decimalsText.size() < static_cast<std::size_t>(decimals)) {
        decimalsText.append(static_cast<std::size_t>(decimals) - decimalsText.size(), '0');
    }
    return decimalsText.empty() ? integer : integer + sep + decimalsText;
}

// d.ddd of q's digits without trailing zeros, and "E" with the exponent.
inline std::string scientific(std::uint64_t q, int exponent, int width, char sep) {
    std::string s = std::to_string(q);
    s.erase(s.find_last_not_of('0') + 1);
    std::string out(1, s[0]);
    if (s.size() > 1) {
        out += sep + s.substr(1);
    }
    std::string e = std::to_string(exponent < 0 ? -exponent : exponent);
    if (e.size() < static_cast<std::size_t>(width)) {
        e.insert(0, static_cast<std::size_t>(width) - e.size(), '0');
    }
    return out + "E" + (exponent < 0 ? "-" : "") + e;
}

inline std::string special(double v) {
    const bool negative = (std::bit_cast<std::uint64_t>(v) >> 63) != 0;
    return std::string(negative ? "-" : "") + (v != v ? "NAN" : "INF");
}

inline bool finite(double v) {
    return v == v && v - v == 0.0;
}

inline std::string fixed(double v, int p, int d, char sep) {
    if (!finite(v)) {
        return special(v);
    }
    const std::string zero = plain(0, 0, d, sep);
    if (v == 0.0) {
        return zero;
    }
    const Rounded18 r = roundTo18(exactDigits(v < 0 ? -v : v));
    const int exponent = decimalExponent(r.n, r.scale);
    const int place = std::max(exponent - p + 1, -d);
    std::uint64_t q = roundToPlace(r, place);
    if (q == 0) {
        return zero;
    }
    const std::string sign = v < 0 ? "-" : "";
    const int exponentAfter = decimalExponent(q, place);
    if (exponentAfter + 1 > p) {
        return sign + scientific(q, exponentAfter, d, sep);
    }
    return sign + plain(q, place, d, sep);
}

inline std::string general(double v, int p, char sep) {
    if (!finite(v)) {
        return special(v);
    }
    if (v == 0.0) {
        return "0";
    }
    const Rounded18 r = roundTo18(exactDigits(v < 0 ? -v : v));
    int place = decimalExponent(r.n, r.scale) - p + 1;
    std::uint64_t q = roundToPlace(r, place);
    while (q % 10 == 0) {
        q /= 10;
        ++place;
    }
    const std::string sign = v < 0 ? "-" : "";
    const int e = decimalExponent(q, place) + 1; // value = 0.ddd x 10^e
    if (e >= -3 && e <= p) {
        return sign + plain(q, place, 0, sep);
    }
    return sign + scientific(q, e - 1, 1, sep);
}

} // namespace zorm::oracle
