// Values as the JSON documents of the reports write them.
#pragma once

#include "data/calibration.h"

#include <QJsonObject>
#include <QJsonValue>

#include <optional>

namespace zorm {

// A number, or null for none.
QJsonValue Json(const std::optional<double>& value);
// The four coefficients, and in "bits" the hexadecimal bits of each double,
// which keep them exactly.
QJsonObject JsonCubic(const Cubic& cubic);

} // namespace zorm
