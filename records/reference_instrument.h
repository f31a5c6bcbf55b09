// The reference instruments of a station: the thermometers whose readings
// are typed as the true temperatures of a calibration, each with its own
// calibration (certificate, expanded uncertainty, due date). The list lives
// in the station's record file; an instrument is never deleted, only retired,
// because the records that name it stay. The station settings pick the one
// in use, and every record copies it at the commit (ReferenceSnapshot).
//
// Plain values and pure functions: the store keeps the list, the windows
// show it.
#pragma once

#include "records/calibration_record.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorm {

struct Instrument {
    // Its identity, which the station settings and the records name.
    std::string Uuid;
    // Description, serial number and the number of its own certificate.
    ReferenceInstrument Identity;
    // Its expanded uncertainty U (k = 2) in °C.
    double Expanded = 0;
    Date Calibrated{};
    Date Due{};
    bool Retired = false;

    bool operator==(const Instrument& other) const;
};

// The instrument of `list` with `uuid`, unless it is retired or there is none.
std::optional<Instrument> ActiveInstrument(const std::vector<Instrument>& list,
                                           std::string_view uuid);

// An instrument is overdue on a day after its due date; on the due date
// itself its calibration still holds.
bool Overdue(const Instrument& instrument, Date day);

// Why an instrument cannot be added (a Czech sentence), or nothing: it needs
// a description and a serial number, a finite U above zero, real dates, and a
// due date not before the calibration.
std::optional<std::string> InstrumentProblem(const Instrument& instrument);

// The snapshot a record keeps of `instrument` used on `day`.
ReferenceSnapshot SnapshotOf(const Instrument& instrument, Date day);

// The question before a commit with an overdue reference, answered Yes to go
// on.
std::string OverdueQuestion(const Instrument& instrument);

// "2024-03-01" and back; nothing for any other text or a day that does not
// exist.
std::string DateText(Date date);
std::optional<Date> ParseDate(std::string_view text);
// "1. 3. 2024", as Czech documents write a date.
std::string CzechDateText(Date date);
// The local calendar day of a moment (milliseconds since 1970 UTC and the
// offset of local time from UTC in seconds).
Date LocalDate(std::int64_t utcMs, std::int32_t offsetSeconds);

} // namespace zorm
