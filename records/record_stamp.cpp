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

void StampRecord(CalibrationRecord& record, const StationSettings& settings,
                 std::string_view programVersion) {
    const Moment now = Now();
    record.Uuid = NewUuid();
    record.TimeUtcMs = now.UtcMs;
    record.UtcOffsetSeconds = now.OffsetSeconds;
    record.Station = QSysInfo::machineHostName().toStdString();
    record.ProgramVersion = std::string(programVersion);
    record.Operator = OrNotStated(settings.Operator);
    record.Reference = {OrNotStated(settings.Reference.Description),
                        OrNotStated(settings.Reference.SerialNumber),
                        OrNotStated(settings.Reference.CertificateNumber)};
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
            QSysInfo::machineHostName().toStdString()};
}

} // namespace zorm
