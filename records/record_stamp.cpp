#include "records/record_stamp.h"

#include <QDateTime>
#include <QSysInfo>
#include <QUuid>

#include <utility>

namespace zorm {

namespace {

std::string OrNotStated(const std::string& text) {
    return text.empty() ? std::string(NotStated) : text;
}

struct Moment {
    std::int64_t UtcMs = 0;
    std::int32_t OffsetSeconds = 0;
};

Moment Now() {
    const QDateTime now = QDateTime::currentDateTime();
    return {now.toMSecsSinceEpoch(), now.offsetFromUtc()};
}

} // namespace

std::string NewUuid() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toLower().toStdString();
}

Date LocalToday() {
    const Moment now = Now();
    return LocalDate(now.UtcMs, now.OffsetSeconds);
}

std::string StationName() {
    return QSysInfo::machineHostName().toStdString();
}

void StampRecord(CalibrationRecord& record, const StationSettings& settings,
                 std::string_view programVersion, const std::optional<Instrument>& inUse) {
    const Moment now = Now();
    record.Uuid = NewUuid();
    record.TimeUtcMs = now.UtcMs;
    record.UtcOffsetSeconds = now.OffsetSeconds;
    record.Station = StationName();
    record.ProgramVersion = std::string(programVersion);
    record.Operator = OrNotStated(settings.Operator);
    const ReferenceInstrument& reference = inUse ? inUse->Identity : settings.Reference;
    record.Reference = {OrNotStated(reference.Description), OrNotStated(reference.SerialNumber),
                        OrNotStated(reference.CertificateNumber)};
    record.ReferenceUsed.reset();
    if (inUse) {
        record.ReferenceUsed = SnapshotOf(*inUse, LocalDate(now.UtcMs, now.OffsetSeconds));
    }
    record.AmbientTemperature = settings.AmbientTemperature;
    record.AmbientHumidity = settings.AmbientHumidity;
    record.Tag = settings.TagOf(record.Port, record.Address);
}

Correction NewCorrection(const std::string& recordUuid, CorrectedField field, std::string value,
                         const StationSettings& settings) {
    const Moment now = Now();
    return {NewUuid(),
            recordUuid,
            field,
            std::move(value),
            OrNotStated(settings.Operator),
            now.UtcMs,
            now.OffsetSeconds,
            StationName()};
}

} // namespace zorm
