// The arithmetic of a calibration: the least-squares cubic through the points
// of a sensor, the temperature it gives for a raw reading, the texts of the
// fit report and of the listing of a stored calibration, the polynomial line,
// and the reading of a typed temperature. Pure functions: the calibration
// window only places their results.
//
// Every step is fixed to the bit so that the coefficients are reproducible:
// inside one formula the intermediate results are carried in the x87 80-bit
// extended type (round to nearest, ties to even), and every named value is
// rounded to a double when it is formed. Products of three or more factors
// are formed from left to right, and sums are added from left to right.
#pragma once

#include "data/records.h"

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zorm {

// A fit takes at least four points (a cubic has four coefficients) and at
// most the 30 slots of a sensor.
inline constexpr int MinFitPoints = 4;
inline constexpr int MaxFitPoints = SensorParamSet::Points;

struct Cubic {
    double A3 = 0;
    double A2 = 0;
    double A1 = 0;
    double A0 = 0;

    bool operator==(const Cubic&) const = default;
};

// The cubic of sensor 1..3 of a coefficient table, and the other way round.
Cubic CubicOf(const CoefficientTable& table, int sensor);
void SetCubic(CoefficientTable& table, int sensor, const Cubic& cubic);

// The commit of one fitted sensor: its 30 slots of points, its Count and its
// four coefficients go from the working copy `work` into `user`, where it then
// counts as calibrated. The other two sensors of `user` stay as they are.
void TakeSensor(const SensorParamSet& work, SensorParamSet& user, int sensor);

// One calibration point: the raw reading and the true temperature typed for it.
struct CalibrationPoint {
    std::int32_t Raw = 0;
    float TrueTemp = 0;

    bool operator==(const CalibrationPoint&) const = default;
};

// Points 1..n of `sensor`; n is taken in 0..30.
std::vector<CalibrationPoint> PointsOf(const SensorParamSet& params, int sensor, int n);
// Sensor 1..3 as a collection of `points` leaves it: the points in slots
// 1..n, zeros in the slots after them, and n as its Count. At most 30 points
// are taken; the coefficients and the Calibrated flag stay as they are.
void SetPoints(SensorParamSet& params, int sensor, std::span<const CalibrationPoint> points);

// The commit of the calibration window ("Uložit na disk"). `fitted` holds the
// sensors fitted successfully in this opening of the window and not collected
// again since; each of them is taken from the working copy as TakeSensor
// takes it. Every other sensor keeps what `user` holds, whatever its working
// copy looks like (a collection started and abandoned, a failed fit). Returns
// the sensors taken, in ascending order; numbers outside 1..3 are ignored.
std::vector<int> CommitFitted(const SensorParamSet& work, SensorParamSet& user,
                              const std::set<int>& fitted);

// Least squares through points 1..n of `sensor` (x = Raw, y = TrueTemp): the
// power sums, the system centred on the mean, and Cramer's rule with the
// determinants by the rule of Sarrus. Nothing when n is outside 4..30, when
// the determinant of the system is exactly zero (no tolerance: any other
// value is accepted), or when a coefficient does not come out finite (points
// that are themselves not finite, as a damaged file could hold).
std::optional<Cubic> FitCubic(const SensorParamSet& params, int sensor, int n);
// The same fit through the points given, in their order.
std::optional<Cubic> FitCubic(std::span<const CalibrationPoint> points);

// The temperature the cubic gives for a raw reading, in four steps each
// rounded to a double: ((x*A3)*x)*x, then + (x*A2)*x, then + x*A1, then + A0.
// Nothing when a step overflows the double range or is invalid (zero times
// infinity, infinity minus infinity, a signalling NaN).
std::optional<double> FittedTemperature(const Cubic& cubic, std::int32_t raw);
// The same for many readings at a fraction of the cost of one call each (the
// floating-point environment is set up once): nothing when any of them faults.
std::optional<std::vector<double>> FittedTemperatures(const Cubic& cubic,
                                                      std::span<const std::int32_t> raws);

// "y = A3*x^3 + A2*x^2 + A1*x + A0" with each coefficient in general(8); a
// negative coefficient keeps its minus right after the plus of the separator.
std::string PolynomialLine(const Cubic& cubic, char sep = '.');

// A point as the report after a fit sees it: the temperature the cubic gives
// for its raw reading, and the deviation computed minus true, rounded to
// single. A row whose arithmetic faults (only huge coefficients can overflow a
// deviation) is flagged, and the rows after it are computed for themselves.
struct FitDeviation {
    double Fitted = 0;
    float Deviation = 0;
    bool Faulted = false;
};
std::vector<FitDeviation> FitDeviations(const Cubic& cubic,
                                        std::span<const CalibrationPoint> points);

// The largest deviation as the report shows it: the one of the largest
// magnitude, with its sign, the first of equal magnitudes winning; 0 without
// rows. Nothing when a row faulted.
std::optional<float> LargestDeviation(std::span<const FitDeviation> rows);

// How far a sensor was off before a new calibration ("as found"): for each new
// point its true temperature minus what the cubic in force before gives for
// its raw reading, rounded to single, as the listing of a stored calibration
// forms it. Nothing for a point whose arithmetic faults.
std::vector<std::optional<float>> AsFoundDeviations(const Cubic& before,
                                                    std::span<const CalibrationPoint> points);

// The report after a fit: per point the fitted temperature (fixed 6, 3) and
// the deviation computed minus true, rounded to single (fixed 6, 3); then the
// deviation of the largest magnitude with its sign, the first of equal
// magnitudes winning (fixed 6, 4). An arithmetic fault in a row (only huge
// coefficients can overflow a deviation) ends the report there: `Rows` holds
// the rows before it, `Faulted` is set and `MaxDeviation` stays empty.
struct FitReportRow {
    std::string Fitted;
    std::string Deviation;
};
struct FitReport {
    std::vector<FitReportRow> Rows;
    std::string MaxDeviation;
    bool Faulted = false;
};
FitReport MakeFitReport(const SensorParamSet& params, int sensor, int n, char sep = '.');

// The listing of a stored calibration: for k = 1..Count (at most 30 rows,
// whatever the record says) the raw reading, the true temperature (fixed 6,
// 2), the fitted temperature (fixed 6, 3) and the deviation true minus
// computed, rounded to single (fixed 5, 3); then the deviation of the largest
// magnitude with its sign, the first of equal magnitudes winning, as in the
// report (fixed 6, 3; 0 without rows). A row whose arithmetic faults shows
// EvaluationError ("Chyba výpočtu") as its fitted value and deviation, is
// flagged, takes no part in the maximum, and the listing goes on.
struct ListingRow {
    std::string Raw;
    std::string TrueTemp;
    std::string Fitted;
    std::string Deviation;
    bool Faulted = false;
};
struct Listing {
    std::vector<ListingRow> Rows;
    std::string MaxDeviation;
};
Listing MakeListing(const SensorParamSet& params, int sensor, char sep = '.');

// A typed true temperature: blanks, an optional sign, digits with at most one
// decimal separator `sep` among or around them (at least one digit), an
// optional exponent (E or e, an optional sign, digits), blanks, and nothing
// else. The value is rounded to single; a value beyond the single range is
// refused (nothing), one too small for it becomes a zero of its sign.
std::optional<float> ParseTemperature(std::string_view text, char sep);

} // namespace zorm
