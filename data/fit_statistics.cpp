#include "data/fit_statistics.h"

#include "data/fp_environment.h"
#include "data/number_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace zorm {

namespace {

using Extended = long double;

// Coefficients of z^0..z^6.
using Polynomial = std::array<Extended, 7>;

Extended Evaluate(const Polynomial& p, int degree, Extended z) {
    Extended v = p[degree];
    for (int m = degree - 1; m >= 0; --m) {
        v = v * z + p[m];
    }
    return v;
}

// Appends the roots in [a, b] of p (degree <= 6) in ascending order. Between
// neighbouring roots of its derivative p is monotone, so each such piece holds
// at most one root, and a change of sign at its ends brackets it.
void AppendRoots(const Polynomial& p, int degree, Extended a, Extended b,
                 std::vector<Extended>& roots) {
    while (degree > 0 && p[degree] == 0) {
        --degree;
    }
    if (degree == 0) {
        return;
    }
    if (degree == 1) {
        const Extended root = -p[0] / p[1];
        if (root >= a && root <= b) {
            roots.push_back(root);
        }
        return;
    }
    Polynomial derivative{};
    for (int m = 0; m < degree; ++m) {
        derivative[m] = (m + 1) * p[m + 1];
    }
    std::vector<Extended> ends{a};
    AppendRoots(derivative, degree - 1, a, b, ends);
    ends.push_back(b);
    for (std::size_t i = 0; i + 1 < ends.size(); ++i) {
        Extended low = ends[i];
        Extended high = ends[i + 1];
        Extended atLow = Evaluate(p, degree, low);
        const Extended atHigh = Evaluate(p, degree, high);
        if (atLow == 0) {
            if (roots.empty() || roots.back() != low) {
                roots.push_back(low);
            }
            continue;
        }
        if (atHigh == 0 || (atLow < 0) == (atHigh < 0)) {
            continue; // a root at `high` is the next piece's `low`
        }
        // 80 halvings take the interval of at most 2 below 1e-24.
        for (int step = 0; step < 80; ++step) {
            const Extended middle = (low + high) / 2;
            if (middle <= low || middle >= high) {
                break;
            }
            const Extended atMiddle = Evaluate(p, degree, middle);
            if (atMiddle == 0) {
                low = high = middle;
                break;
            }
            if ((atMiddle < 0) == (atLow < 0)) {
                low = middle;
                atLow = atMiddle;
            } else {
                high = middle;
            }
        }
        roots.push_back((low + high) / 2);
    }
    if (Evaluate(p, degree, b) == 0 && (roots.empty() || roots.back() != b)) {
        roots.push_back(b);
    }
}

bool ByRaw(const CalibrationPoint& a, const CalibrationPoint& b) {
    return a.Raw < b.Raw;
}

// A rounded-up uncertainty: Digits x 10^(Exponent - 1), Digits in 10..99, so
// that Exponent is the decimal exponent of the first digit.
struct TwoDigits {
    int Digits = 0;
    int Exponent = 0;
};

TwoDigits RoundUp(double u) {
    // "d.ddddddddddde-05": twelve significant digits.
    std::array<char, 32> buffer{};
    const char* text = buffer.data();
    const char* end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), u,
                                    std::chars_format::scientific, 11)
                          .ptr;
    TwoDigits r{(text[0] - '0') * 10 + (text[2] - '0'), 0};
    const char* e = std::find(text, end, 'e');
    std::from_chars(e[1] == '+' ? e + 2 : e + 1, end, r.Exponent);
    if (std::any_of(text + 3, e, [](char c) { return c != '0'; })) {
        if (++r.Digits == 100) {
            r.Digits = 10;
            ++r.Exponent;
        }
    }
    return r;
}

double Value(TwoDigits r) {
    // The decimal read back, so that 0.013 is the double nearest to 0.013.
    const std::string text = std::to_string(r.Digits) + "e" + std::to_string(r.Exponent - 1);
    double v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

} // namespace

std::optional<double> ResidualStandardDeviation(std::span<const FitDeviation> rows) {
    if (rows.size() <= MinFitPoints) {
        return std::nullopt;
    }
    const ExtendedArithmetic scope;
    Extended squares = 0;
    for (const FitDeviation& row : rows) {
        if (row.Faulted) {
            return std::nullopt;
        }
        squares += Extended{row.Deviation} * row.Deviation;
    }
    return ExtendedArithmetic::Kept(static_cast<double>(
        std::sqrt(squares / static_cast<Extended>(rows.size() - MinFitPoints))));
}

std::vector<Outlier> FindOutliers(std::span<const CalibrationPoint> points, const Cubic& cubic) {
    const ExtendedArithmetic scope;
    std::vector<Outlier> outliers;
    if (points.size() < MinOutlierPoints || points.size() > MaxFitPoints) {
        return outliers;
    }
    const std::vector<FitDeviation> rows = FitDeviations(cubic, points);
    if (!LargestDeviation(rows)) {
        return outliers; // a row faulted
    }
    std::vector<CalibrationPoint> others(points.begin() + 1, points.end());
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (i > 0) {
            others[i - 1] = points[i - 1]; // others = all points but point i
        }
        const std::optional<Cubic> refit = FitCubic(others);
        const std::optional<double> s =
            refit ? ResidualStandardDeviation(FitDeviations(*refit, others)) : std::nullopt;
        if (!s) {
            continue;
        }
        const double d = rows[i].Deviation;
        // The others on a cubic to the last bit: any deviation of this one
        // stands out.
        const double ratio =
            *s > 0 ? d / *s
                   : (d == 0 ? 0 : std::copysign(std::numeric_limits<double>::infinity(), d));
        if (std::fabs(ratio) > OutlierLimit) {
            outliers.push_back({static_cast<int>(i) + 1, ratio});
        }
    }
    return outliers;
}

std::string OutlierLine(const Outlier& outlier, char sep) {
    const ExtendedArithmetic scope;
    return "bod " + std::to_string(outlier.Point) + ": odchylka " +
           fixed(outlier.Ratio, 6, 1, sep) + " s";
}

std::optional<CurveLeverage> CurveLeverage::Of(std::span<const CalibrationPoint> points) {
    const std::size_t n = points.size();
    if (n < MinFitPoints) {
        return std::nullopt;
    }
    const ExtendedArithmetic scope;
    const auto [lowest, highest] = std::minmax_element(points.begin(), points.end(), ByRaw);
    if (lowest->Raw == highest->Raw) {
        return std::nullopt;
    }
    CurveLeverage leverage;
    // Exact: the sum and difference of two 32-bit integers fit the 64-bit
    // significand.
    const auto low = static_cast<Extended>(lowest->Raw);
    const auto high = static_cast<Extended>(highest->Raw);
    leverage.centre_ = (low + high) / 2;
    leverage.half_ = (high - low) / 2;

    // Householder's triangularisation of the n x 4 matrix with the rows
    // (1, z, z^2, z^3): Z = QR, so Z'Z = R'R and q = |R^-T w|^2.
    std::vector<std::array<Extended, 4>> z(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Extended zi = (points[i].Raw - leverage.centre_) / leverage.half_;
        z[i] = {1, zi, zi * zi, zi * zi * zi};
    }
    Extended largestPivot = 0;
    Extended smallestPivot = std::numeric_limits<Extended>::infinity();
    for (std::size_t k = 0; k < 4; ++k) {
        Extended norm = 0;
        for (std::size_t i = k; i < n; ++i) {
            norm += z[i][k] * z[i][k];
        }
        norm = std::sqrt(norm);
        const Extended alpha = z[k][k] > 0 ? -norm : norm;
        // The reflection v = column - alpha e_k, applied to the columns right
        // of k; column k itself becomes alpha e_k.
        z[k][k] -= alpha;
        Extended vv = 0;
        for (std::size_t i = k; i < n; ++i) {
            vv += z[i][k] * z[i][k];
        }
        for (std::size_t j = k + 1; j < 4 && vv > 0; ++j) {
            Extended dot = 0;
            for (std::size_t i = k; i < n; ++i) {
                dot += z[i][k] * z[i][j];
            }
            const Extended factor = 2 * dot / vv;
            for (std::size_t i = k; i < n; ++i) {
                z[i][j] -= factor * z[i][k];
            }
        }
        z[k][k] = alpha;
        largestPivot = std::max(largestPivot, std::fabs(alpha));
        smallestPivot = std::min(smallestPivot, std::fabs(alpha));
    }
    if (!(smallestPivot > 1e-12L * largestPivot)) {
        return std::nullopt;
    }
    // R^-1 by back substitution, column by column; column k of R^-1 holds
    // the coefficients of the k-th component of R^-T w.
    for (int k = 0; k < 4; ++k) {
        for (int i = k; i >= 0; --i) {
            Extended sum = i == k ? 1 : 0;
            for (int j = i + 1; j <= k; ++j) {
                sum -= z[i][j] * leverage.orthonormal_[j][k];
            }
            leverage.orthonormal_[i][k] = sum / z[i][i];
        }
    }
    return leverage;
}

CurveLeverage::Extended CurveLeverage::AtScaled(Extended z) const {
    Extended q = 0;
    for (int k = 0; k < 4; ++k) {
        Extended y = 0;
        for (int j = k; j >= 0; --j) {
            y = y * z + orthonormal_[j][k];
        }
        q += y * y;
    }
    return q;
}

double CurveLeverage::At(double raw) const {
    const ExtendedArithmetic scope;
    const double x = ExtendedArithmetic::Kept(raw);
    return ExtendedArithmetic::Kept(static_cast<double>(AtScaled((x - centre_) / half_)));
}

CurveLeverage::Peak CurveLeverage::Largest() const {
    const ExtendedArithmetic scope;
    // q as a polynomial of degree six, and its derivative.
    Polynomial q{};
    for (int k = 0; k < 4; ++k) {
        for (int i = 0; i <= k; ++i) {
            for (int j = 0; j <= k; ++j) {
                q[i + j] += orthonormal_[i][k] * orthonormal_[j][k];
            }
        }
    }
    Polynomial slope{};
    for (int m = 0; m < 6; ++m) {
        slope[m] = (m + 1) * q[m + 1];
    }
    std::vector<Extended> candidates{-1, 1};
    AppendRoots(slope, 5, -1, 1, candidates);
    Extended where = -1;
    Extended largest = AtScaled(-1);
    for (const Extended z : candidates) {
        const Extended value = AtScaled(z);
        if (value > largest) {
            largest = value;
            where = z;
        }
    }
    return {ExtendedArithmetic::Kept(static_cast<double>(centre_ + half_ * where)),
            ExtendedArithmetic::Kept(static_cast<double>(largest))};
}

std::optional<FitUncertainty> EstimateUncertainty(std::span<const CalibrationPoint> points,
                                                  const Cubic& cubic, double referenceExpanded) {
    const ExtendedArithmetic scope;
    const double reference = ExtendedArithmetic::Kept(referenceExpanded);
    if (points.size() < MinFitPoints || points.size() > MaxFitPoints || !(reference >= 0) ||
        !std::isfinite(reference)) {
        return std::nullopt;
    }
    FitUncertainty u;
    u.DegreesOfFreedom = static_cast<int>(points.size()) - MinFitPoints;
    u.AtRaw = std::min_element(points.begin(), points.end(), ByRaw)->Raw;
    u.Expanded = reference;
    if (u.DegreesOfFreedom > 0) {
        u.S = ResidualStandardDeviation(FitDeviations(cubic, points));
        const std::optional<CurveLeverage> leverage = CurveLeverage::Of(points);
        if (!u.S || !leverage) {
            return std::nullopt;
        }
        const CurveLeverage::Peak peak = leverage->Largest();
        u.AtRaw = peak.Raw;
        u.Expanded = ExpandedUncertainty(reference, *u.S, peak.Value);
    }
    u.Stated = RoundUpToTwoDigits(u.Expanded);
    return u;
}

double ExpandedUncertainty(double referenceExpanded, double s, double q) {
    const ExtendedArithmetic scope;
    const Extended half = Extended{ExtendedArithmetic::Kept(referenceExpanded)} / 2;
    const Extended scatter = ExtendedArithmetic::Kept(s);
    const Extended variance = half * half + scatter * scatter * ExtendedArithmetic::Kept(q);
    return ExtendedArithmetic::Kept(static_cast<double>(2 * std::sqrt(variance)));
}

double RoundUpToTwoDigits(double u) {
    const ExtendedArithmetic scope;
    const double v = ExtendedArithmetic::Kept(u);
    if (!(v > 0) || !std::isfinite(v)) {
        return v;
    }
    return Value(RoundUp(v));
}

std::string UncertaintyText(double u, char sep) {
    const ExtendedArithmetic scope;
    const double v = ExtendedArithmetic::Kept(u);
    if (!(v > 0) || !std::isfinite(v)) {
        return v == 0 ? "0" : general(v, 2, sep);
    }
    const TwoDigits r = RoundUp(v);
    // Two significant digits; more before the point only where the value
    // has them.
    const int decimals = std::clamp(1 - r.Exponent, 0, 18);
    const int precision = std::clamp(r.Exponent + 1, 2, 18);
    return fixed(Value(r), precision, decimals, sep);
}

} // namespace zorm
