// What one measurement pass of the main window gives, and its line in the
// measurement log: a CSV file that a spreadsheet opens as it is.
//
// The file starts with a UTF-8 byte order mark (so that a spreadsheet on
// Windows reads the Czech header as UTF-8) and the header line; then one line
// per pass:
//
//   2025-03-14T09:26:53.589+01:00;21500;21,50;22500;;;
//
// the local time the pass began, with milliseconds and the offset from UTC,
// then for sensors 1, 2 and 3 the raw reading and the temperature in °C.
// A sensor that was not measured, or whose measure command failed, leaves
// both of its fields empty; a sensor without a calibration, or whose cubic
// faults, leaves its temperature empty. With a decimal comma the fields are
// separated by ';', otherwise by ','. Lines end with CR LF.
#pragma once

#include "data/records.h"

#include <array>
#include <cstdint>
#include <string>

namespace zorm {

enum class SensorOutcome : std::uint8_t { NotMeasured, Failed, Measured };

struct SensorReading {
    SensorOutcome Outcome = SensorOutcome::NotMeasured;
    // The reading the measure command left (Measured only).
    std::int32_t Raw = 0;
    // The temperature of the sensor's cubic, when it has a calibration in
    // force and the evaluation did not fault (Measured only).
    bool HasCelsius = false;
    float Celsius = 0.0F;

    bool operator==(const SensorReading&) const = default;
};

struct MeasurementPass {
    // When the pass began: milliseconds since 1970-01-01 UTC, and the local
    // offset from UTC at that moment.
    std::int64_t UnixMs = 0;
    std::int32_t UtcOffsetSeconds = 0;
    // Whether the main window showed temperatures (ShowCelsius) in this pass.
    bool CelsiusShown = false;
    std::array<SensorReading, SensorParamSet::Sensors> Sensors{};
};

// The reading of sensor 1..3 after its measure command returned `measured`,
// with `raw` the reading it left: the temperature from `params` where the
// sensor has a calibration and the cubic does not fault.
SensorReading ReadingAfterMeasure(const SensorParamSet& params, int sensor, bool measured,
                                  std::int32_t raw);

// ';' where the decimal separator is a comma, ',' otherwise.
char LogFieldSeparator(char decimalSep);
// The byte order mark and the header line.
std::string LogFileStart(char decimalSep);
// One pass as a line, CR LF included.
std::string LogLine(const MeasurementPass& pass, char decimalSep);

// "2025-03-14T09:26:53.589+01:00": ISO 8601 local time with milliseconds and
// the offset (whole minutes; "+00:00" for UTC).
std::string IsoTimestamp(std::int64_t unixMs, std::int32_t utcOffsetSeconds);
// "zaznam-20250314-092653.csv", from the same local time.
std::string DefaultLogFileName(std::int64_t unixMs, std::int32_t utcOffsetSeconds);

} // namespace zorm
