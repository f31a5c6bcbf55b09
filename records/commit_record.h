// The record of one committed sensor, made in one place for every program
// that commits a calibration (the calibration window and zorm5816-cli), so
// that both leave the same record for the same commit.
#pragma once

#include "data/calibration.h"
#include "data/records.h"
#include "records/calibration_record.h"
#include "records/reference_instrument.h"
#include "records/station_settings.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorm {

// The converter a calibration was made on: the identification's text (empty
// when none was read: the record says "neuvedeno"), its port and address.
struct ConverterIdentity {
    std::string Type;
    int Port = 0;
    int Address = 0;
};

// How settled the readings were when each point of a sensor was taken, the
// first point's first; nothing for a point not taken with the assistant.
using PointStabilities = std::vector<std::optional<PointStability>>;

// The record of `sensor` (1..3) as a commit of the working copy `work` over
// the user set `before` leaves it: the sensor's points (its Count of them)
// with what the new cubic gives for each and the deviation as the fit report
// states it; the new cubic (as left) and the one of `before` (as found),
// whether that one was in force and, where it was, how far it was off at
// each point; n, the largest deviation and s. Stamped with a new UUID, the
// time, the station and the operator, reference and tag of `settings`.
// `restoredFrom`: the record whose calibration this commit brings back.
// `stabilities`: those of the points, as PointStabilities holds them;
// points beyond its end have none. `inUse`: the reference instrument the
// settings pick (StampRecord).
CalibrationRecord MakeCalibrationRecord(const SensorParamSet& work, const SensorParamSet& before,
                                        int sensor, const ConverterIdentity& converter,
                                        const StationSettings& settings,
                                        std::string_view programVersion,
                                        const std::optional<std::string>& restoredFrom,
                                        const PointStabilities& stabilities,
                                        const std::optional<Instrument>& inUse);

// A record's points as a collection holds them (the true temperatures as
// the 4-byte values they were stored from).
std::vector<CalibrationPoint> CollectedPoints(const CalibrationRecord& record);

} // namespace zorm
