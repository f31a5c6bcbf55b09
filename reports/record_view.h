// What the history window shows of the calibration records: the columns of
// its list, a record's details as a small HTML page, and the names of the
// fields a correction can change. The window only places these texts.
//
// Times are the station's local time of the record (its own offset from
// UTC), numbers use the decimal separator the window passes: temperatures
// as the calibration window writes them, coefficients in general(8) and as
// the hexadecimal bits of each double, which name it exactly.
#pragma once

#include "records/calibration_record.h"

#include <array>
#include <cstdint>
#include <string>

namespace zorm {

// "14.03.2025 09:26:53", the local time at the station that wrote it.
std::string RecordTimeText(std::int64_t utcMs, std::int32_t utcOffsetSeconds);
// "3f50624dd2f1a9fc": the 64 bits of a double, most significant first.
std::string DoubleBits(double value);

inline constexpr std::size_t RecordListColumns = 12;
const std::array<const char*, RecordListColumns>& RecordListHeadings();
std::array<std::string, RecordListColumns> RecordListRow(const RecordSummary& row, char sep);

// The record with its latest values, the points (and, for those the
// calibration assistant saw taken, how settled their readings were), both
// cubics, the fit's figures, the note and the trail of corrections.
std::string RecordDetailsHtml(const RecordDetails& details, char sep);

// "Označení převodníku", "Operátor", ...
const char* CorrectedFieldCaption(CorrectedField field);

// Where the local day `year`-`month`-`day` of this computer begins, in
// milliseconds since 1970 UTC: the date filter's bounds.
std::int64_t LocalDayStartUtcMs(int year, int month, int day);

} // namespace zorm
