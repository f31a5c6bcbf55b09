// The calibration points of `zorm5816-cli fit`: a text file with one point a
// line, the raw reading and the true temperature separated by a semicolon:
//
//     # sensor 2, bath 3
//     12000;-20.15
//     21500;21,5
//
// The raw reading is a whole number from 0 to 99999, as the converter sends
// it; the true temperature takes a full stop or a comma as its decimal
// separator and is rounded to single precision, as a typed temperature is.
// Blanks around the fields, blank lines, lines starting with '#', CR LF line
// ends and a UTF-8 byte order mark are fine.
#pragma once

#include "data/calibration.h"

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zorm::cli {

using zorm::CalibrationPoint;

// The points in file order, or what is wrong ("line 3: ..."). A file with
// fewer than 4 or more than 29 points (a collection completes at most 29) is
// wrong as well.
std::variant<std::vector<CalibrationPoint>, std::string> ParsePoints(std::string_view text);

} // namespace zorm::cli
