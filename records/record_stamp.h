// What every record and correction of this station carries besides its
// calibration: a new UUID, the moment (UTC and the local offset), the station
// (host name), the program's version, and the operator, reference, environment
// and tag of the station settings ("neuvedeno" where they give none).
#pragma once

#include "records/calibration_record.h"
#include "records/reference_instrument.h"
#include "records/station_settings.h"

#include <string>
#include <string_view>

namespace zorm {

// A new random UUID in the canonical lower-case form.
std::string NewUuid();

// The name of this station in records and certificate numbers: its host name.
std::string StationName();
// The station's local calendar day now.
Date LocalToday();

// Stamps a record whose converter (port and address) is already filled in:
// UUID, time, offset, station, version, operator, the environment and the tag
// set for that port and address. The reference is the instrument in use,
// with its snapshot (overdue or not on the commit's local day), where the
// caller found the one the settings pick (History::InstrumentInUse);
// otherwise the reference fields of the settings, without a snapshot.
void StampRecord(CalibrationRecord& record, const StationSettings& settings,
                 std::string_view programVersion,
                 const std::optional<Instrument>& inUse = std::nullopt);

// A correction of `recordUuid` made now by the station's operator.
Correction NewCorrection(const std::string& recordUuid, CorrectedField field, std::string value,
                         const StationSettings& settings);

} // namespace zorm
