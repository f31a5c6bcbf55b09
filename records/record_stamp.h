// What every record and correction of this station carries besides its
// calibration: a new UUID, the moment (UTC and the local offset), the station
// (host name), the program's version, and the operator, reference and tag of
// the station settings ("neuvedeno" where they give none).
#pragma once

#include "records/calibration_record.h"
#include "records/station_settings.h"

#include <string>
#include <string_view>

namespace zorm {

// A new random UUID in the canonical lower-case form.
std::string NewUuid();

// Stamps a record whose converter (port and address) is already filled in:
// UUID, time, offset, station, version, operator, reference and the tag set
// for that port and address.
void StampRecord(CalibrationRecord& record, const StationSettings& settings,
                 std::string_view programVersion);

// A correction of `recordUuid` made now by the station's operator.
Correction NewCorrection(const std::string& recordUuid, CorrectedField field, std::string value,
                         const StationSettings& settings);

} // namespace zorm
