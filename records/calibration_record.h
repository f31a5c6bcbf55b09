// A calibration record: what one commit of one fitted sensor leaves behind,
// never changed or deleted afterwards. A correction (of the tag, the
// operator, the reference or a note) is a record of its own that points at
// the calibration record, with who made it and when.
//
// Plain values only: the arithmetic that produces the numbers lives in data/,
// the store only keeps them and gives them back bit for bit.
#pragma once

#include "data/calibration.h"
#include "data/reading_stability.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorm {

// What a record says where the station settings give nothing.
inline constexpr const char* NotStated = "neuvedeno";

// One point as collected, with what the new polynomial gives for it and, where
// the sensor had a calibration in force, how far the old one was off.
struct RecordPoint {
    std::int32_t Raw = 0;
    // The typed true temperature as stored (a 4-byte value, kept exactly).
    double TrueTemp = 0;
    // What the fitted polynomial gives for Raw, and its deviation as the fit
    // report states it; absent where the arithmetic gave no value.
    std::optional<double> Fitted;
    std::optional<double> Deviation;
    // TrueTemp minus what the polynomial in force before the commit gave for
    // Raw; absent without a calibration in force or where it gave no value.
    std::optional<double> AsFoundDeviation;
    // How settled the readings were when "Zapiš teplotu" took the point:
    // the calibration assistant's judgement with the window and limits it
    // used; absent for a point taken otherwise (restored from a record, of
    // a record written before points kept it).
    std::optional<PointStability> Stability;

    bool operator==(const RecordPoint& other) const;
};

// Compares the statistics, the window and the limits by their bits, as a
// record's numbers are compared.
bool SameStability(const std::optional<PointStability>& a, const std::optional<PointStability>& b);

// The name a verdict has in the store and in exports: "stable", "unstable",
// "too_few_data".
const char* StabilityCode(Stability verdict);
std::optional<Stability> StabilityCoded(std::string_view code);

struct ReferenceInstrument {
    std::string Description;
    std::string SerialNumber;
    std::string CertificateNumber;

    bool operator==(const ReferenceInstrument&) const = default;
};

// A calendar day (the station's local date).
using Date = std::chrono::year_month_day;

// What a certificate needs of the reference instrument in use at the commit,
// copied into the record then, so that a later recalibration or retirement
// of the instrument changes nothing of what the record says.
struct ReferenceSnapshot {
    // The instrument's identity in the station's list (a UUID).
    std::string InstrumentUuid;
    // Its expanded uncertainty U (k = 2) in °C, and the day it was calibrated
    // and the day its calibration is valid to.
    double Expanded = 0;
    Date Calibrated{};
    Date Due{};
    // The commit came after the due date.
    bool Overdue = false;

    bool operator==(const ReferenceSnapshot& other) const;
};

struct CalibrationRecord {
    // Canonical lower-case form, 36 characters.
    std::string Uuid;
    // Milliseconds since 1970-01-01 UTC, and the station's offset from UTC at
    // that moment in seconds (local time = UTC + offset).
    std::int64_t TimeUtcMs = 0;
    std::int32_t UtcOffsetSeconds = 0;
    // The host name of the calibration station and this program's version.
    std::string Station;
    std::string ProgramVersion;
    std::string Operator;
    ReferenceInstrument Reference;
    // The converter: the identification's type text, its address and port.
    std::string ConverterType;
    int Address = 0;
    int Port = 0;
    // The serial number or plant tag of the converter, where one is set.
    std::optional<std::string> Tag;
    int Sensor = 1;
    // The points as collected; the fit's n is their number.
    std::vector<RecordPoint> Points;
    // The coefficients fitted (as left) and those in force before the commit
    // (as found), kept to the bit whatever they hold.
    Cubic AsLeft;
    Cubic AsFound;
    // The sensor had a calibration in force before the commit.
    bool AsFoundInForce = false;
    // The largest deviation of the fit and the residual standard deviation s
    // (only for more than four points).
    std::optional<double> MaxDeviation;
    std::optional<double> ResidualSd;
    // The record whose points and coefficients this calibration restored.
    std::optional<std::string> RestoredFrom;
    // The reference instrument picked from the station's list, as it was at
    // the commit; nothing where none was picked (and in records written
    // before the list existed).
    std::optional<ReferenceSnapshot> ReferenceUsed;
    // The environment the station settings gave at the commit: ambient
    // temperature in °C and relative humidity in %.
    std::optional<double> AmbientTemperature;
    std::optional<double> AmbientHumidity;

    // Compares numbers by their bits, so that -0.0 and 0.0 differ.
    bool operator==(const CalibrationRecord& other) const;
};

enum class CorrectedField {
    Tag,
    Operator,
    ReferenceDescription,
    ReferenceSerial,
    ReferenceCertificate,
    Note
};

// The name a field has in the store, in exports and in the trail.
const char* FieldName(CorrectedField field);
std::optional<CorrectedField> FieldNamed(std::string_view name);

struct Correction {
    std::string Uuid;
    std::string RecordUuid;
    CorrectedField Field = CorrectedField::Note;
    // The new value; an empty tag takes the tag away.
    std::string Value;
    std::string Author;
    std::int64_t TimeUtcMs = 0;
    std::int32_t UtcOffsetSeconds = 0;
    std::string Station;

    bool operator==(const Correction&) const = default;
};

// A record as written, its corrections oldest first, and the values they
// leave: the latest of each corrected field wins.
struct RecordDetails {
    CalibrationRecord Written;
    std::vector<Correction> Trail;
    CalibrationRecord Latest;
    // The latest note; empty when none was made.
    std::string Note;
    // Waits in the local file to be sent to the shared database.
    bool Unsent = false;
};

// Orders a trail (time, then UUID, so that every copy of it agrees) and
// works out the latest values.
RecordDetails WithTrail(CalibrationRecord written, std::vector<Correction> trail);

// A certificate number given to a record: the issuing station and its
// running number (Number is their text, CertificateNumberText), kept like a
// record: never changed, never deleted.
struct IssuedCertificate {
    std::string Uuid;
    std::string Number;
    std::string Station;
    int Sequence = 0;
    std::string RecordUuid;
    std::int64_t IssuedUtcMs = 0;

    bool operator==(const IssuedCertificate&) const = default;
};

// What the history list shows of a record (latest values).
struct RecordSummary {
    std::string Uuid;
    std::int64_t TimeUtcMs = 0;
    std::int32_t UtcOffsetSeconds = 0;
    std::string Station;
    std::string Operator;
    std::optional<std::string> Tag;
    std::string ConverterType;
    int Address = 0;
    int Port = 0;
    int Sensor = 0;
    int PointCount = 0;
    std::optional<double> MaxDeviation;
    std::optional<double> ResidualSd;
    std::optional<std::string> RestoredFrom;
    bool Unsent = false;

    bool operator==(const RecordSummary& other) const;
};

// The history list's filter; every condition given must hold. The tag is the
// latest one (corrections count), compared exactly.
struct RecordFilter {
    std::optional<std::string> Tag;
    std::optional<std::string> ConverterType;
    std::optional<int> Address;
    std::optional<int> Sensor;
    // From (inclusive) and to (exclusive), in milliseconds since 1970 UTC.
    std::optional<std::int64_t> FromUtcMs;
    std::optional<std::int64_t> ToUtcMs;
};

// Where a page of the list ends: the next page starts with the records
// older than this one (newest first: time, then UUID, both descending).
struct ListPosition {
    std::int64_t TimeUtcMs = 0;
    std::string Uuid;
};

struct RecordQuery {
    RecordFilter Filter;
    std::optional<ListPosition> Before;
    // The most rows to return; 0 returns all.
    int Limit = 500;
};

// The order of the list: newer first.
bool ListedBefore(const RecordSummary& a, const RecordSummary& b);

// Two lists of the same query from two places (the shared database and what
// waits in the local file) as one: each record once (the first list's row
// wins), newest first, at most `limit` rows (0: all).
std::vector<RecordSummary> MergedList(std::vector<RecordSummary> first,
                                      const std::vector<RecordSummary>& second, int limit);
// Two trails of one record as one: each correction once.
std::vector<Correction> MergedTrail(std::vector<Correction> first,
                                    const std::vector<Correction>& second);

} // namespace zorm
