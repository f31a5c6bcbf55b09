#!/usr/bin/env python3
"""An independent model of the calibration arithmetic, for the end-to-end test.

Every value is an exact fraction; each operation is rounded by hand to the
64-bit significand of the x87 extended type, and each named value further to
the 53 bits of a double, both to nearest with ties to even, in the order the
program computes them. Prints, for the points given as RAW:TEMP arguments,
the four coefficients A3 A2 A1 A0 as 16 hex digits of their little-endian
bytes and as general(8) texts.

usage: fit_oracle.py RAW:TEMP RAW:TEMP ...   (at least four points)
"""
import struct
import sys
from decimal import ROUND_HALF_EVEN, ROUND_HALF_UP, Context, Decimal
from fractions import Fraction


def round_bits(q, bits):
    """q rounded to `bits` significant bits (no exponent limits)."""
    if q == 0:
        return Fraction(0)
    num, den = abs(q.numerator), q.denominator
    # 2^e <= num/den < 2^(e + 1)
    e = num.bit_length() - den.bit_length()
    if (num << max(0, -e)) < (den << max(0, e)):
        e -= 1
    shift = bits - 1 - e
    if shift >= 0:
        whole = den
        n, rest = divmod(num << shift, den)
    else:
        whole = den << -shift
        n, rest = divmod(num, whole)
    if 2 * rest > whole or (2 * rest == whole and n % 2 == 1):
        n += 1
    sign = -1 if q < 0 else 1
    return Fraction(sign * n << max(0, -shift), 1 << max(0, shift))


def ext(q):
    return round_bits(q, 64)


def dbl(q):
    """A value formed in extended precision, named as a double."""
    return round_bits(ext(q), 53)


def fit(points):
    x = [Fraction(raw) for raw, _ in points]
    y = [t for _, t in points]
    n = len(points)
    b = [Fraction(0)] * 4
    for i in range(n):
        b[0] = dbl(ext(b[0] + ext(1 * y[i])))
    for i in range(n):
        b[1] = dbl(ext(b[1] + ext(x[i] * y[i])))
    for i in range(n):
        p = dbl(ext(x[i] * x[i]))
        b[2] = dbl(ext(b[2] + ext(p * y[i])))
    for i in range(n):
        p = dbl(ext(ext(x[i] * x[i]) * x[i]))
        b[3] = dbl(ext(b[3] + ext(p * y[i])))
    count = Fraction(n)
    s = [Fraction(0)] * 7
    for m in range(1, 7):
        for i in range(n):
            xi = x[i]
            x2 = ext(xi * xi)
            power = {
                1: xi,
                2: x2,
                3: ext(x2 * xi),
                4: ext(x2 * x2),
                5: ext(ext(x2 * x2) * xi),
                6: ext(x2 * ext(x2 * x2)),
            }[m]
            s[m] = dbl(ext(s[m] + power))

    def centred(c, a, bb):
        return dbl(ext(c - ext(ext(a * bb) / count)))

    m11 = centred(s[2], s[1], s[1])
    m12 = centred(s[3], s[1], s[2])
    m13 = centred(s[4], s[1], s[3])
    m22 = centred(s[4], s[2], s[2])
    m23 = centred(s[5], s[2], s[3])
    m33 = centred(s[6], s[3], s[3])
    m21, m31, m32 = m12, m13, m23
    v1 = centred(b[1], s[1], b[0])
    v2 = centred(b[2], s[2], b[0])
    v3 = centred(b[3], s[3], b[0])

    def product(p, q, r):
        return ext(ext(p * q) * r)

    def sarrus(a11, a12, a13, a21, a22, a23, a31, a32, a33):
        t = ext(product(a11, a22, a33) + product(a12, a23, a31))
        t = ext(t + product(a13, a21, a32))
        t = ext(t - product(a11, a23, a32))
        t = ext(t - product(a12, a21, a33))
        return dbl(ext(t - product(a13, a22, a31)))

    d = sarrus(m11, m12, m13, m21, m22, m23, m31, m32, m33)
    if d == 0:
        sys.exit("singular")
    d1 = sarrus(v1, m12, m13, v2, m22, m23, v3, m32, m33)
    d2 = sarrus(m11, v1, m13, m21, v2, m23, m31, v3, m33)
    d3 = sarrus(m11, m12, v1, m21, m22, v2, m31, m32, v3)
    a3 = dbl(d3 / d)
    a2 = dbl(d2 / d)
    a1 = dbl(d1 / d)
    a0 = ext(b[0] - ext(a1 * s[1]))
    a0 = ext(a0 - ext(a2 * s[2]))
    a0 = ext(a0 - ext(a3 * s[3]))
    a0 = dbl(a0 / count)
    return [a3, a2, a1, a0]


def general8(v):
    """The general number format with 8 significant digits and a full stop."""
    if v == 0:
        return "0"
    d = Context(prec=18, rounding=ROUND_HALF_EVEN).plus(Decimal(v))
    d = Context(prec=8, rounding=ROUND_HALF_UP).plus(d).normalize()
    sign, digits, exponent = d.as_tuple()
    digits = "".join(map(str, digits))
    e = len(digits) + exponent  # the value is 0.d1d2... x 10^e
    if -3 <= e <= 8:
        if e > 0:
            whole = digits[:e].ljust(e, "0")
            rest = digits[e:]
            text = whole + ("." + rest if rest else "")
        else:
            text = "0." + "0" * -e + digits
    else:
        text = digits[0] + ("." + digits[1:] if len(digits) > 1 else "")
        text += "E" + ("-" if e - 1 < 0 else "") + str(abs(e - 1))
    return ("-" if sign else "") + text


def main():
    points = []
    for arg in sys.argv[1:]:
        raw, temp = arg.split(":")
        points.append((int(raw), round_bits(Fraction(temp), 24)))
    if len(points) < 4:
        sys.exit(__doc__)
    for a in fit(points):
        print(struct.pack("<d", float(a)).hex(), general8(float(a)))


if __name__ == "__main__":
    main()
