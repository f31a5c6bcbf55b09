#include "records/calibration_record.h"

#include <algorithm>
#include <array>
#include <bit>
#include <tuple>
#include <unordered_set>
#include <utility>

namespace zorm {

namespace {

bool SameBits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool SameBits(const std::optional<double>& a, const std::optional<double>& b) {
    return a.has_value() == b.has_value() && (!a || SameBits(*a, *b));
}

bool SameBits(const Cubic& a, const Cubic& b) {
    return SameBits(a.A3, b.A3) && SameBits(a.A2, b.A2) && SameBits(a.A1, b.A1) &&
           SameBits(a.A0, b.A0);
}

bool SameBits(const std::optional<WindowStatistics>& a, const std::optional<WindowStatistics>& b) {
    return a.has_value() == b.has_value() &&
           (!a || (a->Count == b->Count && SameBits(a->Mean, b->Mean) &&
                   SameBits(a->StandardDeviation, b->StandardDeviation) &&
                   SameBits(a->PeakToPeak, b->PeakToPeak) &&
                   SameBits(a->SlopePerMinute, b->SlopePerMinute)));
}

bool SameBits(const StabilityLimits& a, const StabilityLimits& b) {
    return SameBits(a.SlopePerMinute, b.SlopePerMinute) &&
           SameBits(a.StandardDeviation, b.StandardDeviation);
}

constexpr std::array<std::pair<Stability, const char*>, 3> StabilityCodes = {{
    {Stability::TooFewData, "too_few_data"},
    {Stability::Unstable, "unstable"},
    {Stability::Stable, "stable"},
}};

constexpr std::array<std::pair<CorrectedField, const char*>, 6> FieldNames = {{
    {CorrectedField::Tag, "tag"},
    {CorrectedField::Operator, "operator"},
    {CorrectedField::ReferenceDescription, "reference_description"},
    {CorrectedField::ReferenceSerial, "reference_serial"},
    {CorrectedField::ReferenceCertificate, "reference_certificate"},
    {CorrectedField::Note, "note"},
}};

// The name of a value in a table of names, and the value of a name.
template <typename Value, std::size_t N>
const char* NameIn(const std::array<std::pair<Value, const char*>, N>& names, Value wanted) {
    for (const auto& [value, name] : names) {
        if (value == wanted) {
            return name;
        }
    }
    return "";
}

template <typename Value, std::size_t N>
std::optional<Value> ValueNamed(const std::array<std::pair<Value, const char*>, N>& names,
                                std::string_view wanted) {
    for (const auto& [value, name] : names) {
        if (wanted == name) {
            return value;
        }
    }
    return std::nullopt;
}

// Appends the items of `from` whose UUID `to` does not hold yet.
template <typename Item> void AppendNew(std::vector<Item>& to, const std::vector<Item>& from) {
    std::unordered_set<std::string> known;
    for (const Item& item : to) {
        known.insert(item.Uuid);
    }
    for (const Item& item : from) {
        if (known.insert(item.Uuid).second) {
            to.push_back(item);
        }
    }
}

} // namespace

bool RecordPoint::operator==(const RecordPoint& other) const {
    return Raw == other.Raw && SameBits(TrueTemp, other.TrueTemp) &&
           SameBits(Fitted, other.Fitted) && SameBits(Deviation, other.Deviation) &&
           SameBits(AsFoundDeviation, other.AsFoundDeviation) &&
           SameStability(Stability, other.Stability);
}

bool SameStability(const std::optional<PointStability>& a, const std::optional<PointStability>& b) {
    if (!a || !b) {
        return a.has_value() == b.has_value();
    }
    const StabilitySettings& x = a->Settings;
    const StabilitySettings& y = b->Settings;
    return a->Judgement.Verdict == b->Judgement.Verdict &&
           SameBits(a->Judgement.Bits, b->Judgement.Bits) &&
           SameBits(a->Judgement.Celsius, b->Judgement.Celsius) &&
           SameBits(x.WindowSeconds, y.WindowSeconds) && SameBits(x.Celsius, y.Celsius) &&
           SameBits(x.Bits, y.Bits);
}

const char* StabilityCode(Stability verdict) {
    return NameIn(StabilityCodes, verdict);
}

std::optional<Stability> StabilityCoded(std::string_view code) {
    return ValueNamed(StabilityCodes, code);
}

bool ReferenceSnapshot::operator==(const ReferenceSnapshot& other) const {
    return std::tie(InstrumentUuid, Calibrated, Due, Overdue) ==
               std::tie(other.InstrumentUuid, other.Calibrated, other.Due, other.Overdue) &&
           SameBits(Expanded, other.Expanded);
}

bool CalibrationRecord::operator==(const CalibrationRecord& other) const {
    return std::tie(Uuid, TimeUtcMs, UtcOffsetSeconds, Station, ProgramVersion, Operator, Reference,
                    ConverterType, Address, Port, Tag, Sensor, Points, AsFoundInForce, RestoredFrom,
                    ReferenceUsed) ==
               std::tie(other.Uuid, other.TimeUtcMs, other.UtcOffsetSeconds, other.Station,
                        other.ProgramVersion, other.Operator, other.Reference, other.ConverterType,
                        other.Address, other.Port, other.Tag, other.Sensor, other.Points,
                        other.AsFoundInForce, other.RestoredFrom, other.ReferenceUsed) &&
           SameBits(AsLeft, other.AsLeft) && SameBits(AsFound, other.AsFound) &&
           SameBits(MaxDeviation, other.MaxDeviation) && SameBits(ResidualSd, other.ResidualSd) &&
           SameBits(AmbientTemperature, other.AmbientTemperature) &&
           SameBits(AmbientHumidity, other.AmbientHumidity);
}

bool RecordSummary::operator==(const RecordSummary& other) const {
    return std::tie(Uuid, TimeUtcMs, UtcOffsetSeconds, Station, Operator, Tag, ConverterType,
                    Address, Port, Sensor, PointCount, RestoredFrom, Unsent) ==
               std::tie(other.Uuid, other.TimeUtcMs, other.UtcOffsetSeconds, other.Station,
                        other.Operator, other.Tag, other.ConverterType, other.Address, other.Port,
                        other.Sensor, other.PointCount, other.RestoredFrom, other.Unsent) &&
           SameBits(MaxDeviation, other.MaxDeviation) && SameBits(ResidualSd, other.ResidualSd);
}

const char* FieldName(CorrectedField field) {
    return NameIn(FieldNames, field);
}

std::optional<CorrectedField> FieldNamed(std::string_view name) {
    return ValueNamed(FieldNames, name);
}

RecordDetails WithTrail(CalibrationRecord written, std::vector<Correction> trail) {
    std::ranges::sort(trail, [](const Correction& a, const Correction& b) {
        return std::tie(a.TimeUtcMs, a.Uuid) < std::tie(b.TimeUtcMs, b.Uuid);
    });
    RecordDetails details{std::move(written), std::move(trail), {}, {}, false};
    details.Latest = details.Written;
    CalibrationRecord& latest = details.Latest;
    for (const Correction& correction : details.Trail) {
        const std::string& value = correction.Value;
        switch (correction.Field) {
        case CorrectedField::Tag:
            latest.Tag = value.empty() ? std::nullopt : std::optional<std::string>(value);
            break;
        case CorrectedField::Operator:
            latest.Operator = value;
            break;
        case CorrectedField::ReferenceDescription:
            latest.Reference.Description = value;
            break;
        case CorrectedField::ReferenceSerial:
            latest.Reference.SerialNumber = value;
            break;
        case CorrectedField::ReferenceCertificate:
            latest.Reference.CertificateNumber = value;
            break;
        case CorrectedField::Note:
            details.Note = value;
            break;
        }
    }
    return details;
}

bool ListedBefore(const RecordSummary& a, const RecordSummary& b) {
    return std::tie(a.TimeUtcMs, a.Uuid) > std::tie(b.TimeUtcMs, b.Uuid);
}

std::vector<RecordSummary> MergedList(std::vector<RecordSummary> first,
                                      const std::vector<RecordSummary>& second, int limit) {
    AppendNew(first, second);
    std::ranges::sort(first, ListedBefore);
    if (limit > 0 && first.size() > static_cast<std::size_t>(limit)) {
        first.resize(static_cast<std::size_t>(limit));
    }
    return first;
}

std::vector<Correction> MergedTrail(std::vector<Correction> first,
                                    const std::vector<Correction>& second) {
    AppendNew(first, second);
    return first;
}

} // namespace zorm
