#include "data/evaluation.h"

#include "data/fp_environment.h"
#include "data/number_text.h"

#include <cfloat>

// The four steps form their products in the x87 extended type; a double-only
// long double would round them differently and catch overflow too early.
static_assert(LDBL_MANT_DIG == 64, "long double must be the 64-bit-significand extended type");

namespace zorm {

namespace {

// Evaluates inside an ExtendedArithmetic scope, whose cleared flags it reads.
// The operands are read from volatile copies and every rounded step is stored
// to a volatile, so the compiler can move no part of the arithmetic before the
// flags are cleared or after they are read.
bool evaluate(const CoefficientTable& c, std::int32_t raw, int sensor, float& result) {
    if (sensor < 1 || sensor > SensorParamSet::Sensors) {
        return false;
    }
    volatile const std::int32_t vraw = raw;
    volatile const double a3 = c.A3(sensor);
    volatile const double a2 = c.A2(sensor);
    volatile const double a1 = c.A1(sensor);
    volatile const double a0 = c.A0(sensor);

    const long double x = vraw;
    volatile float t = static_cast<float>(((x * a3) * x) * x);
    t = static_cast<float>((x * a2) * x + static_cast<long double>(t));
    t = static_cast<float>(x * a1 + static_cast<long double>(t));
    t = static_cast<float>(static_cast<long double>(t) + static_cast<long double>(a0));
    asm volatile("" ::: "memory");

    // Overflow of single and invalid operations (including a signalling NaN
    // operand) are faults; underflow to a denormal or zero and inexact
    // results are not.
    if (ExtendedArithmetic::Faulted()) {
        return false;
    }
    result = t;
    return true;
}

} // namespace

bool EvaluateCubic(const CoefficientTable& coefficients, std::int32_t raw, int sensor, float& t) {
    const ExtendedArithmetic environment;
    return evaluate(coefficients, raw, sensor, t);
}

void FormatTemperature(const SensorParamSet& params, std::int32_t raw, int sensor,
                       std::string& text, char sep) {
    // The text is formatted inside the environment as well, so that widening
    // a denormal result leaves no trace in the caller's flags either.
    const ExtendedArithmetic environment;
    float t = 0.0F;
    if (evaluate(params.Coefficients, raw, sensor, t)) {
        text = fixed(t, 6, 2, sep);
    } else {
        text = EvaluationError;
    }
}

bool HasCalibration(const CoefficientTable& coefficients, int sensor) {
    // Compared inside the scope: a signalling NaN must neither trap nor leave
    // a flag behind in the caller's environment.
    const ExtendedArithmetic environment;
    return coefficients.A3(sensor) != 0 || coefficients.A2(sensor) != 0 ||
           coefficients.A1(sensor) != 0 || coefficients.A0(sensor) != 0;
}

std::string CelsiusText(const SensorParamSet& params, std::int32_t raw, int sensor, char sep) {
    if (sensor >= 1 && sensor <= SensorParamSet::Sensors &&
        !HasCalibration(params.Coefficients, sensor)) {
        return NotCalibrated;
    }
    std::string text;
    FormatTemperature(params, raw, sensor, text, sep);
    return text;
}

} // namespace zorm
