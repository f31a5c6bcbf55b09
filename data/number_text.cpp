#include "data/number_text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>

namespace zorm {

namespace {

// Every number text starts from this many significant decimal digits.
constexpr int ExpansionDigits = 18;

// A positive value as d[0].d[1]d[2]...d[count-1] x 10^exponent, d[0] nonzero.
struct Digits {
    std::array<std::uint8_t, ExpansionDigits> d{};
    int count = 0;
    int exponent = 0;
};

// The decimal expansion of a finite positive value, rounded to 18 significant
// digits. std::to_chars rounds the exact binary value correctly, ties to even.
// The tie rule of this step shows only in a text that keeps all 18 digits:
// when fewer are kept, an even 18th digit moved up by one does not carry, so
// the digits after the kept ones cannot cross the half way mark (that would
// take ...4999 turning into ...5000, an odd 18th digit). The program keeps at
// most 8, where ties to even and halves away from zero give the same texts.
Digits expand(double magnitude) {
    // "d.ddddddddddddddddde+XXX" at most.
    std::array<char, 32> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), magnitude,
                                   std::chars_format::scientific, ExpansionDigits - 1)
                         .ptr;
    Digits x;
    x.count = ExpansionDigits;
    x.d[0] = static_cast<std::uint8_t>(text[0] - '0');
    for (int i = 1; i < ExpansionDigits; ++i) {
        x.d[i] = static_cast<std::uint8_t>(text[i + 1] - '0');
    }
    const char* p = text.data() + ExpansionDigits + 1; // at the 'e'
    const bool negativeExponent = p[1] == '-';
    int exponent = 0;
    for (p += 2; p < end; ++p) {
        exponent = exponent * 10 + (*p - '0');
    }
    x.exponent = negativeExponent ? -exponent : exponent;
    return x;
}

// Keeps the first `keep` digits and rounds half away from zero at the next
// one; `keep` may be zero or negative when the kept place lies above the first
// digit. Returns false when the value rounds to zero. Trailing zeros are
// dropped from the result.
bool roundTo(Digits& x, int keep) {
    if (keep < 0) {
        return false; // below a tenth of the kept place
    }
    if (keep < x.count) {
        const bool up = x.d[keep] >= 5;
        x.count = keep;
        if (up) {
            int i = keep - 1;
            while (i >= 0 && x.d[i] == 9) {
                --i;
            }
            if (i < 0) {
                // All nines (or nothing kept): the value becomes one unit of
                // the place above.
                x.d[0] = 1;
                x.count = 1;
                x.exponent += 1;
                return true;
            }
            ++x.d[i];
            x.count = i + 1; // the nines behind it became zeros
        }
        if (x.count == 0) {
            return false;
        }
    }
    while (x.count > 1 && x.d[x.count - 1] == 0) {
        --x.count;
    }
    return true;
}

// The digit standing at the place 10^place, zero outside the digits.
char digitAt(const Digits& x, int place) {
    const int index = x.exponent - place;
    return index >= 0 && index < x.count ? static_cast<char>('0' + x.d[index]) : '0';
}

// A text assembled in place, at most a few dozen characters.
class Text {
public:
    void put(char c) { buf_[size_++] = c; }
    void put(const char* s) {
        while (*s != '\0') {
            put(*s++);
        }
    }
    void putRepeated(char c, int n) {
        for (int i = 0; i < n; ++i) {
            put(c);
        }
    }
    // Decimal digits of n >= 0, padded with zeros to at least `width`.
    void putNumber(int n, int width) {
        std::array<char, 12> digits{};
        int len = 0;
        do {
            digits[len++] = static_cast<char>('0' + n % 10);
            n /= 10;
        } while (n != 0);
        putRepeated('0', width - len);
        while (len > 0) {
            put(digits[--len]);
        }
    }
    std::string str() const { return std::string(buf_.data(), size_); }

private:
    // Longest text: "-" and 18 digits, the separator, "E-", and a padded
    // exponent of 18 digits; or a sign, "0.", three zeros and 18 digits.
    std::array<char, 64> buf_{};
    std::size_t size_ = 0;
};

// The sign bit and the kind of a value, read from its bits so that looking at
// a signalling NaN does not raise anything.
struct Sign {
    bool negative;
    bool finite;
    bool nan;
};

Sign classify(double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    const auto exponentBits = (bits >> 52) & 0x7FF;
    const bool mantissaBits = (bits & ((std::uint64_t{1} << 52) - 1)) != 0;
    return {(bits >> 63) != 0, exponentBits != 0x7FF, exponentBits == 0x7FF && mantissaBits};
}

std::string notFinite(const Sign& sign) {
    Text t;
    if (sign.negative) {
        t.put('-');
    }
    t.put(sign.nan ? "NAN" : "INF");
    return t.str();
}

// The separator and exactly d decimals; nothing at all for d = 0.
void putDecimals(Text& t, const Digits& x, int d, char sep) {
    if (d == 0) {
        return;
    }
    t.put(sep);
    for (int place = -1; place >= -d; --place) {
        t.put(digitAt(x, place));
    }
}

// The digits of a scientific form: the first one, then the separator and the
// rest when there are more.
void putMantissa(Text& t, const Digits& x, char sep) {
    t.put(digitAt(x, x.exponent));
    if (x.count > 1) {
        t.put(sep);
        for (int i = 1; i < x.count; ++i) {
            t.put(static_cast<char>('0' + x.d[i]));
        }
    }
}

// Both formats accept at most as many digits as the expansion has.
int clampDigits(int n, int low) {
    return std::clamp(n, low, ExpansionDigits);
}

} // namespace

std::string fixed(double v, int p, int d, char sep) {
    p = clampDigits(p, 1);
    d = clampDigits(d, 0);
    const Sign sign = classify(v);
    if (!sign.finite) {
        return notFinite(sign);
    }
    Text t;
    const double magnitude = sign.negative ? -v : v;
    Digits x;
    bool nonzero = magnitude != 0.0;
    if (nonzero) {
        x = expand(magnitude);
        // The place of the last kept digit: p significant digits or d
        // decimals, whichever keeps fewer.
        const int lastPlace = std::max(x.exponent - p + 1, -d);
        nonzero = roundTo(x, x.exponent - lastPlace + 1);
    }
    if (!nonzero) {
        t.put('0');
        putDecimals(t, Digits{}, d, sep);
        return t.str();
    }
    if (sign.negative) {
        t.put('-');
    }
    if (x.exponent + 1 > p) {
        // Too many digits before the point: the rounding kept p significant
        // digits, written as d.ddddd with the exponent padded to d digits.
        putMantissa(t, x, sep);
        t.put('E');
        t.putNumber(x.exponent, d);
        return t.str();
    }
    if (x.exponent < 0) {
        t.put('0');
    }
    for (int place = x.exponent; place >= 0; --place) {
        t.put(digitAt(x, place));
    }
    putDecimals(t, x, d, sep);
    return t.str();
}

std::string general(double v, int p, char sep) {
    p = clampDigits(p, 1);
    const Sign sign = classify(v);
    if (!sign.finite) {
        return notFinite(sign);
    }
    const double magnitude = sign.negative ? -v : v;
    if (magnitude == 0.0) {
        return "0";
    }
    Digits x = expand(magnitude);
    roundTo(x, p); // p >= 1 significant digits never round to zero
    Text t;
    if (sign.negative) {
        t.put('-');
    }
    // With the value written 0.ddd x 10^e: plain for -3 <= e <= p.
    const int e = x.exponent + 1;
    if (e >= -3 && e <= p) {
        if (e <= 0) {
            t.put('0');
        }
        for (int place = x.exponent; place >= 0; --place) {
            t.put(digitAt(x, place));
        }
        const int lastPlace = x.exponent - x.count + 1;
        if (lastPlace < 0) {
            t.put(sep);
            for (int place = -1; place >= lastPlace; --place) {
                t.put(digitAt(x, place));
            }
        }
        return t.str();
    }
    putMantissa(t, x, sep);
    t.put('E');
    if (x.exponent < 0) {
        t.put('-');
    }
    t.putNumber(x.exponent < 0 ? -x.exponent : x.exponent, 1);
    return t.str();
}

} // namespace zorm
