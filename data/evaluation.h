// A raw reading turned into a temperature text through the sensor's cubic.
#pragma once

#include "data/records.h"

#include <cstdint>
#include <string>

namespace zorm {

inline constexpr const char* EvaluationError = "Chyba výpočtu";
// What a sensor in °C shows while it has no calibration at all.
inline constexpr const char* NotCalibrated = "nekalibrováno";

// Evaluates the cubic of sensor 1..3 from `params.Coefficients` for `raw`, in
// the converter tool's own arithmetic (extended-precision products, the
// running value rounded to single after each of four steps), and writes it as
// fixed(t, 6, 2). An overflow of single or an invalid operation gives
// "Chyba výpočtu" instead, and so does a sensor outside 1..3.
void FormatTemperature(const SensorParamSet& params, std::int32_t raw, int sensor,
                       std::string& text, char sep = '.');

// A sensor 1..3 has a calibration in force unless its four coefficients are
// all zero, as they are from the first start until a calibration is saved.
bool HasCalibration(const CoefficientTable& coefficients, int sensor);

// The text the main window shows for a reading of sensor 1..3 in °C: while
// the sensor has no calibration in force its cubic would give "0.00" for
// every reading, a temperature nobody measured, so it reads NotCalibrated;
// otherwise FormatTemperature's text.
std::string CelsiusText(const SensorParamSet& params, std::int32_t raw, int sensor, char sep = '.');

// The value behind FormatTemperature: true with `t` set, or false when the
// arithmetic faults or the sensor is outside 1..3 (`t` is then untouched).
// Both functions leave the caller's floating-point environment (exception
// flags, enabled traps, rounding mode, precision) as they found it, and
// compute to nearest in full extended precision whatever the caller had set.
bool EvaluateCubic(const CoefficientTable& coefficients, std::int32_t raw, int sensor, float& t);

} // namespace zorm
