#!/usr/bin/env python3
"""Checks the calibration record of one commit in Historie.sqlite against an
exact model of its arithmetic (the fit of fit_oracle.py, the fitted values,
the deviations, the as-found deviations through the cubic in force before,
the largest deviation and s), every value to the bit.

Every value is an exact fraction, each operation rounded by hand to the x87
extended type (64-bit significand), to double or to single as the program
rounds it: a fitted value ((x*A3)*x)*x, + (x*A2)*x, + x*A1, + A0, each line
in extended precision and named as a double; a deviation (computed minus
true) and an as-found deviation (true minus the old cubic's value) formed in
extended precision and rounded to single; s = sqrt(sum d^2 / (n - 4)), the
sum and the quotient in extended precision, the square root correctly
rounded to extended, then to double.

usage: record_oracle.py DATABASE A3,A2,A1,A0 RAW:TEMP RAW:TEMP ...
       (the cubic in force before the commit, as Python floats; at least
       four points)
Prints the record's UUID; exits 1 with the differences otherwise.
"""
import sqlite3
import struct
import sys
from fractions import Fraction
from math import isqrt

from fit_oracle import dbl, ext, fit, round_bits


def single(q):
    return round_bits(q, 24)


def fitted(cubic, raw):
    a3, a2, a1, a0 = cubic
    x = Fraction(raw)
    v = dbl(ext(ext(ext(x * a3) * x) * x))
    v = dbl(ext(ext(ext(x * a2) * x) + v))
    v = dbl(ext(ext(x * a1) + v))
    return dbl(ext(v + a0))


def sqrt_bits(q, bits):
    """sqrt(q) correctly rounded to `bits` significant bits."""
    num, den = q.numerator, q.denominator
    k = max(0, bits + 4 - (num.bit_length() - den.bit_length()) // 2)
    scaled = num << (2 * k)
    root = isqrt(scaled // den)
    exact = root * root * den == scaled
    # The root lies in [root, root + 1), and has bits + 2 bits or more: the
    # middle of that interval rounds as the root itself does.
    value = Fraction(root) if exact else Fraction(2 * root + 1, 2)
    return round_bits(value / (1 << k), bits)


def bits(q):
    return struct.pack("<d", float(q)).hex()


def main():
    if len(sys.argv) < 7:
        sys.exit(__doc__)
    database, before = sys.argv[1], sys.argv[2]
    old = [Fraction(float(v)) for v in before.split(",")]
    points = []
    for arg in sys.argv[3:]:
        raw, temp = arg.split(":")
        points.append((int(raw), single(Fraction(temp))))
    new = fit(points)
    n = len(points)

    rows = []
    largest = Fraction(0)
    squares = Fraction(0)
    for raw, true in points:
        v = fitted(new, raw)
        d = single(ext(v - true))
        found = single(ext(true - fitted(old, raw)))
        rows.append((raw, true, v, d, found))
        if abs(d) > abs(largest):
            largest = d
        squares = ext(squares + ext(d * d))
    s = dbl(sqrt_bits(ext(squares / (n - 4)), 64)) if n > 4 else None

    connection = sqlite3.connect(f"file:{database}?mode=ro", uri=True)
    records = connection.execute(
        "SELECT id, uuid, sensor, point_count, as_left, as_found, as_found_in_force,"
        " max_deviation, residual_sd, restored_from FROM calibration_record").fetchall()
    if len(records) != 1:
        sys.exit(f"record_oracle: {len(records)} records instead of one")
    (rid, uuid, sensor, count, as_left, as_found, in_force, max_dev, sd, restored) = records[0]
    wrong = []

    def expect(what, got, want):
        if got != want:
            wrong.append(f"{what}: {got} instead of {want}")

    expect("sensor", sensor, 1)
    expect("point_count", count, n)
    expect("as_left", as_left.hex(), "".join(bits(a) for a in new))
    expect("as_found", as_found.hex(), "".join(bits(a) for a in old))
    expect("as_found_in_force", in_force, 1)
    expect("max_deviation", bits(max_dev), bits(largest))
    expect("residual_sd", None if sd is None else bits(sd), None if s is None else bits(s))
    expect("restored_from", restored, None)
    stored = connection.execute(
        "SELECT raw, true_temp, fitted, deviation, as_found_deviation FROM calibration_point"
        " WHERE record_id = ? ORDER BY position", (rid,)).fetchall()
    expect("points", len(stored), n)
    for k, (row, want) in enumerate(zip(stored, rows), start=1):
        expect(f"point {k} raw", row[0], want[0])
        for name, got, value in zip(("true", "fitted", "deviation", "as found"), row[1:],
                                    want[1:]):
            expect(f"point {k} {name}", bits(got), bits(value))
    if wrong:
        sys.exit("record_oracle: " + "; ".join(wrong))
    print(uuid)


if __name__ == "__main__":
    main()
