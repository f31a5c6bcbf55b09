// Exports of calibration records, one record or a filtered list alike:
//
// - CSV for a spreadsheet: UTF-8 with a byte order mark (so that spreadsheet
//   programs take it as UTF-8), CR LF line ends, a header line, then one line
//   per point of each record with the record's values repeated (a record
//   without points has one line), and with each point how settled its
//   readings were when it was taken (the verdict, the window W, the number
//   of readings and their statistics in bits and in °C; blank where the
//   point has none). With a decimal comma (the caller passes the
//   separator of the regional settings) fields are separated by ';',
//   otherwise by ','. Numbers are written in full, as the shortest text that
//   reads back to the same double. Texts are the latest values (corrections
//   applied); a text starting with = + - @ gets a leading apostrophe, so that
//   no spreadsheet takes it for a formula.
// - JSON for plant systems: one object {"format": "zorm5816-records",
//   "version": 1, "records": [...]}, every value in full precision (JSON
//   knows neither infinities, written null, nor a negative zero, written 0),
//   the coefficients also as the hexadecimal bits of each double, which keep
//   them exactly, each point's stability (with the limits it was judged by),
//   the reference instrument as the commit copied it and the environment,
//   and the values as written and the trail of corrections.
//   (The CSV keeps its columns; it has neither of the last two.)
#pragma once

#include "records/calibration_record.h"

#include <string>
#include <vector>

namespace zorm {

std::string RecordsCsv(const std::vector<RecordDetails>& records, char decimalSeparator);
std::string RecordsJson(const std::vector<RecordDetails>& records);

} // namespace zorm
