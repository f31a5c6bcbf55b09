// The figures of a fit that the calibration records keep, the certificate
// prints and the calibration assistant shows: the residual standard deviation,
// the points that stand out from the others, and the uncertainty of the
// fitted curve. Pure functions beside the fit; like it, each one computes to
// nearest in the extended type whatever the caller's floating-point
// environment, and leaves that environment, flags included, as it was.
#pragma once

#include "data/calibration.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zorm {

// s = sqrt(sum of d^2 / (n - 4)) over the deviations of a fit: a cubic spends
// four of the n points on its coefficients. Nothing for four points or fewer,
// or when a row faulted.
std::optional<double> ResidualStandardDeviation(std::span<const FitDeviation> rows);

// A point that stands out: its deviation in the report exceeds three times
// the residual standard deviation of the fit through the other points (n - 5
// degrees of freedom, so the fit needs at least six points). The point's own
// deviation is kept out of the s it is measured by: measured against the s of
// all points, a single deviation can never exceed sqrt(n - 4) times s, and
// below fourteen points not even a gross error could stand out.
inline constexpr int MinOutlierPoints = 6;
inline constexpr double OutlierLimit = 3;
struct Outlier {
    int Point = 0;    // 1.., as the rows of the columns
    double Ratio = 0; // the deviation in units of the others' s, with its sign
};
// The points of `points` that stand out of the fit `cubic`, in their order.
// Nothing with fewer than six points or when a row of the fit faulted; a point
// without whom the others cannot be fitted is not judged.
std::vector<Outlier> FindOutliers(std::span<const CalibrationPoint> points, const Cubic& cubic);
// "bod 7: odchylka 5,2 s": the ratio with one decimal.
std::string OutlierLine(const Outlier& outlier, char sep = '.');

// How much the fitted curve at a raw reading x depends on the scatter of the
// points: q(x) = v' (X'X)^-1 v with v = (1, x, x^2, x^3) and X the design
// matrix whose rows are v at the points' raw readings. The standard
// uncertainty of the fitted curve at x is u_fit(x) = s * sqrt(q(x)).
//
// The raw readings are centred on the middle of their range and scaled to
// -1..1 before anything is formed, which leaves q unchanged (it does not
// depend on the basis of the cubics) and keeps the system well conditioned
// also for readings such as 1 000 000..1 000 100, whose powers would
// otherwise agree in their first fifteen digits; X is then split into an
// orthogonal and a triangular factor instead of forming X'X at all.
class CurveLeverage {
public:
    // Nothing for fewer than four points or when the points do not fix a
    // cubic (fewer than four distinct raw readings, or four so close
    // together against the range that the cubic through them is not fixed to
    // twelve digits).
    static std::optional<CurveLeverage> Of(std::span<const CalibrationPoint> points);

    double At(double raw) const;

    // The largest q over the calibrated range, the smallest to the largest raw
    // reading of the points, and where it lies. q is a polynomial of degree
    // six: its largest value lies at an end of the range or where its
    // derivative has a root, and every root of that quintic in the range is
    // found (between two neighbouring roots of its own derivative it is
    // monotone and has at most one root, found by bisection).
    struct Peak {
        double Raw = 0;
        double Value = 0;
    };
    Peak Largest() const;

private:
    using Extended = long double;
    CurveLeverage() = default;
    Extended AtScaled(Extended z) const;

    Extended centre_ = 0;
    Extended half_ = 1;
    // Column k holds the coefficients (of z^0..z^3) of the k-th of four cubics
    // orthonormal over the points; q is the sum of their squares.
    Extended orthonormal_[4][4] = {};
};

// The uncertainty a certificate states for a calibration: at each raw reading
// the combined standard uncertainty u_c^2 = (U_ref / 2)^2 + u_fit^2, from the
// reference's expanded uncertainty U_ref (k = 2) and the fitted curve's
// u_fit, and the expanded uncertainty U = 2 u_c (k = 2).
struct FitUncertainty {
    int DegreesOfFreedom = 0; // n - 4
    // Nothing with four points (no degrees of freedom): the fit says nothing
    // about its own scatter, and U is the reference's alone.
    std::optional<double> S;
    // The largest U over the calibrated range and the raw reading where it
    // lies (the smallest one when U is the same everywhere).
    double Expanded = 0;
    double AtRaw = 0;
    // Expanded rounded up to two significant digits.
    double Stated = 0;
};
// For the points of a fit, its cubic and the reference's U_ref in °C.
// Nothing for fewer than four or more than 30 points, for a U_ref that is
// negative or not finite, when a row of the fit faulted, or when the points
// do not fix a cubic.
std::optional<FitUncertainty> EstimateUncertainty(std::span<const CalibrationPoint> points,
                                                  const Cubic& cubic, double referenceExpanded);

// U = 2 sqrt((U_ref / 2)^2 + s^2 q) at a raw reading whose q is given
// (CurveLeverage::At), as a table gives it for each point.
double ExpandedUncertainty(double referenceExpanded, double s, double q);

// An uncertainty rounded up to two significant digits: 0.01234 gives 0.013,
// 0.012 stays 0.012, 0.0995 gives 0.10. The value is first taken to twelve
// significant digits, far below its own accuracy, so that the last bits of
// its arithmetic cannot push 0.012 up to 0.013. Zero, a negative value and
// one that is not finite stay as they are.
double RoundUpToTwoDigits(double u);
// Its text: two significant digits, trailing zero kept ("0,010"), plain
// notation below 10^18; "0" for zero, "NAN" or "INF" for what is not finite.
std::string UncertaintyText(double u, char sep = '.');

} // namespace zorm
