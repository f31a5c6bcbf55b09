// The two ways a floating-point number becomes text. Both start from the
// decimal expansion of the value rounded to 18 significant digits and round
// from there, halves away from zero. The decimal separator is an argument:
// only the windows ask the system for it.
#pragma once

#include <string>

namespace zorm {

// Fixed format: at most p significant digits and at most d decimals, written
// with exactly d decimals, or in scientific form when more than p digits stand
// before the point ("12345.70", "0.00", "1.23457E06"). p is taken in 1..18
// and d in 0..18; with d = 0 no separator is written.
std::string fixed(double v, int p, int d, char sep = '.');

// General format with p significant digits, trailing zeros dropped, plain for
// 0.0001 <= |v| < 10^p and scientific otherwise ("0.0025", "1.2345679E-12").
// p is taken in 1..18.
std::string general(double v, int p, char sep = '.');

} // namespace zorm
