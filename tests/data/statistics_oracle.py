#!/usr/bin/env python3
"""The statistics of fits and of windows of readings against exact models.

Feeds random cases from fixed seeds to statistics_probe (the program's own
functions) and checks its answers against exact fractions: the fit's rows
and s (the bit-exact model of fit_oracle.py), as-found deviations, q(x) =
v'(X'X)^-1 v formed from the raw readings as they are, its largest value over
the range (the roots of q' by numpy, each value exact, and a fine grid as a
check on the oracle), the expanded uncertainty and its rounding up, the
points that stand out, and the statistics and verdicts of windows.

usage: statistics_oracle.py PROBE      (exit status 0 when all agree)
"""
import math
import os
import random
import struct
import subprocess
import sys
from decimal import ROUND_CEILING, ROUND_HALF_EVEN, ROUND_HALF_UP, Context, Decimal
from fractions import Fraction

import numpy

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from fit_oracle import dbl, ext, fit, round_bits  # noqa: E402

REL = 1e-9
TICK, GAP = 0.333, 1.0
failures, counts = [], {}


def count(what, n=1):
    counts[what] = counts.get(what, 0) + n


def check(ok, case, message):
    if not ok:
        failures.append(f"{message}\n    case: {case[:300]}")
    return ok


def close(got, want, scale=None):
    return abs(got - want) <= REL * (abs(want) if scale is None else scale)


def ask(line):
    probe.stdin.write(line + "\n")
    probe.stdin.flush()
    answer = []
    while (reply := probe.stdout.readline().rstrip("\n")) != "end":
        answer.append(reply)
    return answer


def numbers(line):
    return [float.fromhex(t) for t in line.split()]


def same(got, want):
    """Exactly equal, a missing value (nan) matching None."""
    return all((w is None and math.isnan(g)) or g == w for g, w in zip(got, want, strict=True))


def single(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def listed(points):
    return f"{len(points)} " + " ".join(f"{raw} {float(t).hex()}" for raw, t in points)


# --- exact models ----------------------------------------------------------------


def fitted(cubic, raw):
    """The fitted temperature in four steps, each named as a double; None on overflow."""
    x, (a3, a2, a1, a0) = Fraction(raw), map(Fraction, cubic)
    v = Fraction(0)
    for step in (lambda: ext(ext(x * a3) * x) * x, lambda: ext(ext(x * a2) * x) + v,
                 lambda: ext(x * a1) + v, lambda: v + a0):
        v = dbl(step())
        if abs(v) >= 2**1024:
            return None
    return v


def to_single(q):
    d = round_bits(ext(q), 24)
    return None if abs(d) >= 2**128 else d


def deviations(cubic, points):
    """Computed minus true per point, rounded to single; None for a faulted row."""
    vs = [fitted(cubic, raw) for raw, _ in points]
    return [None if v is None else to_single(v - Fraction(t)) for v, (_, t) in zip(vs, points)]


def s_squared(ds, spent=4):
    return None if None in ds else sum(d * d for d in ds) / (len(ds) - spent)


def model_fit(points):
    try:
        return [float(a) for a in fit([(r, Fraction(t)) for r, t in points])] if len(points) > 3 else None
    except SystemExit:  # a singular system
        return None


def leverage(raws):
    """q(x) = sum p[m] x^m from (X'X)^-1 of the raw readings as they are."""
    sums = [sum(Fraction(x) ** m for x in raws) for m in range(7)]
    a = [[sums[j + k] for k in range(4)] + [Fraction(int(j == k)) for k in range(4)] for j in range(4)]
    for k in range(4):  # Gauss-Jordan; X'X is positive definite, no pivoting needed
        a[k] = [v / a[k][k] for v in a[k]]
        for i in range(4):
            if i != k:
                a[i] = [v - a[i][k] * w for v, w in zip(a[i], a[k])]
    return [sum(a[j][4 + m - j] for j in range(4) if 0 <= m - j < 4) for m in range(7)]


def at(p, x):
    return sum(c * x**m for m, c in enumerate(p))


def largest(p, raws):
    """The largest q over [min, max]: at an end or a real root of q'(z), z = (x - c) / h."""
    c, h = Fraction(min(raws) + max(raws), 2), Fraction(max(raws) - min(raws), 2)
    qz = [sum(p[m] * math.comb(m, i) * c ** (m - i) * h**i for m in range(i, 7)) for i in range(7)]
    zs = [-1.0, 1.0] + [r.real for r in numpy.roots([float(i * qz[i]) for i in range(6, 0, -1)])
                        if abs(r.imag) <= 1e-6 and -1 <= r.real <= 1]
    z = max(zs, key=lambda z: at(qz, Fraction(z)))
    grid = numpy.polyval([float(a) for a in reversed(qz)], numpy.linspace(-1, 1, 4001)).max()
    if float(at(qz, Fraction(z))) < grid * (1 - 1e-12):
        sys.exit(f"the oracle missed a maximum of q for {raws}")
    return at(qz, Fraction(z)), z


def round_up(u):
    """Up to two significant digits from the value taken to twelve, and its text."""
    if u == 0:
        return 0.0, "0"
    d = Context(prec=2, rounding=ROUND_CEILING).plus(Context(prec=12).plus(Decimal(u)))
    e, m = d.adjusted(), int(d.scaleb(1 - d.adjusted()))
    text = str(m) + "0" * (e - 1) if e >= 1 else f"{m // 10},{m % 10}" if e == 0 else f"0,{'0' * (-e - 1)}{m}"
    return float(d), text


def one_decimal(v):
    if math.isinf(v):
        return "-INF" if v < 0 else "INF"
    d = Context(prec=18, rounding=ROUND_HALF_EVEN).plus(Decimal(v)).quantize(Decimal("0.1"), ROUND_HALF_UP)
    return ("0.0" if d == 0 else str(d)).replace(".", ",")


def curve(x, rng, noise):
    """A Pt100-like sensor over the converter's range, typed with some scatter."""
    return single(2e-15 * x**3 + 1.1e-9 * x**2 + 0.0103 * x - 221.7 + rng.gauss(0, noise))


# --- the fit's uncertainty --------------------------------------------------------


def uncertainty_cases():
    rng = random.Random(5816)
    for i in range(420):
        n = 4 if i % 20 == 0 else rng.randint(5, 29)
        if i % 4 == 0:  # ill-conditioned: powers that agree in their first fifteen digits
            raws = [rng.randint(1_000_000, 1_000_100) for _ in range(n)]
            points = [(x, single(20 + 0.01 * (x - 1_000_000) + rng.gauss(0, 0.002))) for x in raws]
        else:
            lo, hi = rng.randint(8000, 30000), rng.randint(40000, 70000)
            if i % 4 == 3:  # crowded at the ends, so that the largest q may lie inside
                raws = [rng.choice((lo, hi)) + rng.randint(0, 300) for _ in range(n)]
            else:
                raws = [rng.randint(8000, 70000) for _ in range(n)]
            points = [(x, curve(x, rng, rng.choice((0.001, 0.005, 0.02, 0.1)))) for x in raws]
        reference = rng.choice((0.0, 0.01, 0.02, 0.05, rng.uniform(0, 0.2)))
        lo, hi = min(raws), max(raws)
        xs = [lo, hi, rng.uniform(lo, hi), lo - rng.uniform(0, 1000), rng.randint(lo, hi)]
        case = f"uncertainty {reference.hex()} {listed(points)} 5 " + " ".join(float(x).hex() for x in xs)
        cubic_line, rows_line, s_line, q_line, u_line, text = ask(case)
        cubic = model_fit(points)
        if not check(same(numbers(cubic_line), cubic or [None] * 4), case, f"cubic {cubic_line}"):
            continue
        ds = deviations(cubic, points)
        rows = [x for (raw, _), d in zip(points, ds)
                for x in ((None, None) if d is None else (fitted(cubic, raw), d))]
        check(same(numbers(rows_line), rows), case, "rows")
        s2 = s_squared(ds) if n > 4 else None
        got_s = numbers(s_line)[0]
        check(math.isnan(got_s) if s2 is None else close(got_s, math.sqrt(s2)), case, f"s {got_s}")
        fixed = len(set(raws)) >= 4  # distinct readings enough to fix a cubic
        if not check((q_line != "none") == fixed
                     and (u_line == "none") == (n > 4 and (s2 is None or not fixed)),
                     case, f"q {q_line}, U {u_line}") or u_line == "none":
            continue
        q, where = 0, lo
        if fixed:
            p = leverage(raws)
            q, z = largest(p, raws)
            count("largest q inside the range" if -1 < z < 1 else "largest q at an end")
            *qs, peak, where = numbers(q_line)
            check(all(close(g, float(at(p, Fraction(x)))) for g, x in zip(qs, xs)), case, f"q {qs}")
            check(close(peak, float(q)) and close(float(at(p, Fraction(where))), float(q)), case,
                  f"largest q {peak} at {where}, exact {float(q)}")
        dof, s, expanded, u_at, stated = numbers(u_line)
        ref2 = (Fraction(reference) / 2) ** 2
        want = 2 * math.sqrt(ref2 + (s2 * q if n > 4 else 0))
        check(dof == n - 4 and math.isnan(s) == (n == 4) and close(expanded, want), case, f"U {u_line}")
        check(u_at == (where if n > 4 else lo) and (expanded == reference or n > 4), case, f"U at {u_at}")
        check((stated, text) == round_up(expanded), case, f"U {expanded} stated {stated} \"{text}\"")
        count("uncertainties")


def as_found_cases():
    rng = random.Random(17)
    for i in range(300):
        n = rng.randint(1, 30)
        before = [rng.uniform(-3e-15, 3e-15), rng.uniform(-2e-9, 2e-9),
                  rng.choice((1, -1)) * rng.uniform(0.005, 0.02), rng.uniform(-300, 300)]
        if i % 10 == 9:  # values beyond the double range
            before = [rng.choice((1e300, -1e290)), 0.0, 0.0, 1.0]
        points = [(rng.randint(0, 99999), single(rng.uniform(-200, 850))) for _ in range(n)]
        case = f"asfound {' '.join(a.hex() for a in before)} {listed(points)}"
        vs = [fitted(before, raw) for raw, _ in points]
        want = [None if v is None else to_single(Fraction(t) - v) for v, (_, t) in zip(vs, points)]
        check(same(numbers(ask(case)[0]), want), case, "as found")
        count("as-found faults", want.count(None))


def outlier_cases():
    rng = random.Random(19)
    for i in range(90):
        n = rng.randint(3, 16) if i % 6 else rng.randint(17, 29)
        noise = rng.choice((0.002, 0.01))
        points = [(x, curve(x, rng, noise)) for x in (rng.randint(8000, 70000) for _ in range(n))]
        if i % 2:  # one point typed wrong
            k = rng.randrange(n)
            points[k] = (points[k][0], single(points[k][1] + rng.choice((1, -1)) * noise * rng.uniform(3, 30)))
        case = f"outliers {listed(points)}"
        cubic_line, *lines = ask(case)
        cubic = model_fit(points)
        if not check(same(numbers(cubic_line), cubic or [None] * 4), case, f"cubic {cubic_line}") or not cubic:
            continue
        got = {int(k): (float.fromhex(r), text) for k, r, text in (line.split(" ", 2) for line in lines)}
        ds = deviations(cubic, points)
        for k in range(n if n >= 6 else 0):
            others = points[:k] + points[k + 1 :]
            refit = model_fit(others)
            s2 = None if refit is None else s_squared(deviations(refit, others))
            if s2 is None:
                check(k + 1 not in got, case, f"point {k + 1} judged without a fit of the others")
                continue
            s, d = math.sqrt(s2), float(ds[k])
            ratio = d / s if s > 0 else math.copysign(math.inf, d) if d else 0.0
            if abs(abs(ratio) - 3) > REL * 3 and check((abs(ratio) > 3) == (k + 1 in got), case,
                                                       f"point {k + 1}: {ratio}, {got.get(k + 1)}"):
                if k + 1 in got:
                    r, text = got[k + 1]
                    check(close(r, ratio) and text == f"bod {k + 1}: odchylka {one_decimal(r)} s", case, text)
                    count("outliers")
        check(n >= 6 or not got, case, "outliers among fewer than six points")


# --- stability of a window --------------------------------------------------------


def statistics(times, values):
    n = len(values)
    ts, vs = [Fraction(t) for t in times], [Fraction(v) for v in values]
    mt, mv = sum(ts) / max(n, 1), sum(vs) / max(n, 1)
    tt = sum((t - mt) ** 2 for t in ts)
    if n < 2 or tt == 0:
        return None
    slope = sum((t - mt) * (v - mv) for t, v in zip(ts, vs)) / tt * 60
    return n, mv, math.sqrt(sum((v - mv) ** 2 for v in vs) / (n - 1)), max(vs) - min(vs), slope


def window(readings, now, w, cubic):
    start = now - w
    inside = [(t, raw) for t, raw in readings if start <= t <= now]
    times = [t for t, _ in inside]
    temps = [fitted(cubic, raw) for _, raw in inside] if cubic else [None]
    bits = statistics(times, [raw for _, raw in inside])
    celsius = statistics(times, temps) if None not in temps else None
    covered = bits and len(times) >= max(3.0, w / (2 * TICK)) and min(times) <= start + GAP and max(times) >= now - GAP
    return bits, celsius, covered, (max(times) - min(times) if bits else 1)


def stability_cases():
    rng = random.Random(333)
    for i in range(160):
        w = float(rng.choice((10, 30, 60, rng.randint(10, 300))))
        duration = w * rng.choice((0.3, 0.95, 1.0, 1.5, 3)) if i % 8 else rng.uniform(0, 2)
        t0, base = rng.uniform(0, 5000), rng.randint(8000, 70000)
        noise, drift = rng.choice((0, 0.3, 1, 3)), rng.choice((0, 0.5, -0.5, 2, -2, 10)) / 60
        step_at, step = rng.uniform(0, duration), rng.choice((0, 0, 5, -20))
        readings, t = [], 0.0
        while t <= duration:
            if rng.random() > 0.03:  # a failed reading now and then
                readings.append((t0 + t, round(base + drift * t + step * (t > step_at) + rng.gauss(0, noise))))
            t += TICK + (0.15 if rng.random() < 0.05 else 0)  # a tick delayed
        now = t0 + duration + rng.choice((0, 0, 0.2, 1.5))
        if i % 5 == 0:
            rng.shuffle(readings)
        # A sensor whose temperature rises with the reading, one where it falls, or none.
        cubic = [(1 if i % 3 == 1 else -1) * a for a in (2e-15, 1.1e-9, 0.0103, -221.7)] if i % 3 else None
        bits, celsius, covered, span = window(readings, now, w, cubic)
        limits = [0.01, 0.005, 2.0, 1.0]
        judged = celsius or bits
        if i % 2 and judged:  # limits about the window's own figures, so that both verdicts come
            limits[0 if celsius else 2 : 2 if celsius else 4] = [
                abs(float(judged[4])) * rng.uniform(0.5, 2), judged[2] * rng.uniform(0.5, 2)]
        case = f"stability {now.hex()} {w.hex()} {' '.join(x.hex() for x in limits)} " + \
            (" ".join(a.hex() for a in cubic) if cubic else "nan 0 0 0") + \
            f" {len(readings)} " + " ".join(f"{t.hex()} {raw}" for t, raw in readings)
        *got, verdict = ask(case)
        for line, want in zip(got, (bits, celsius)):
            n, mean, sd, p2p, slope = numbers(line)
            ok = math.isnan(mean) if want is None else (
                n == want[0] and close(mean, float(want[1]), abs(float(want[1])) + want[2])
                and close(sd, want[2]) and p2p == float(want[3])
                and close(slope, float(want[4]), abs(float(want[4])) + want[2] / span * 60))
            check(ok, case, f"statistics {line}, model {want}")
        if not covered:
            want = "málo dat"
        else:
            slope, sd = abs(float(judged[4])), judged[2]
            slope_limit, sd_limit = limits[:2] if celsius else limits[2:]
            if abs(slope - slope_limit) <= REL * slope_limit or abs(sd - sd_limit) <= REL * sd_limit:
                continue  # too close to a limit to tell
            want = "stabilní" if slope <= slope_limit and sd <= sd_limit else "nestabilní"
        count(f"verdict {want}" + (" in °C" if celsius and covered else ""))
        check(verdict == want, case, f"verdict {verdict}, model {want}")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    probe = subprocess.Popen([sys.argv[1]], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    for cases in (uncertainty_cases, as_found_cases, outlier_cases, stability_cases):
        cases()
    probe.stdin.close()
    check(probe.wait() == 0, "", "statistics_probe failed")
    for what in sorted(counts):
        print(f"{counts[what]:6d} {what}")
    # Each kind of case must have come up, or the checks above proved little.
    for what in ("uncertainties", "largest q inside the range", "largest q at an end", "as-found faults",
                 "outliers", "verdict stabilní", "verdict nestabilní", "verdict málo dat",
                 "verdict stabilní in °C", "verdict nestabilní in °C"):
        check(counts.get(what, 0) > 0, "", f"no case of: {what}")
    print(*failures[:20], f"{len(failures)} failures", sep="\n")
    sys.exit(1 if failures else 0)
