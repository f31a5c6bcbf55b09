#include "records/commit_record.h"

#include "data/evaluation.h"
#include "data/fit_statistics.h"
#include "records/record_stamp.h"

namespace zorm {

namespace {

std::optional<double> Widened(const std::optional<float>& value) {
    return value ? std::optional<double>(*value) : std::nullopt;
}

} // namespace

CalibrationRecord MakeCalibrationRecord(const SensorParamSet& work, const SensorParamSet& before,
                                        int sensor, const ConverterIdentity& converter,
                                        const StationSettings& settings,
                                        std::string_view programVersion,
                                        const std::optional<std::string>& restoredFrom,
                                        const PointStabilities& stabilities,
                                        const std::optional<Instrument>& inUse) {
    CalibrationRecord record;
    record.ConverterType = converter.Type.empty() ? std::string(NotStated) : converter.Type;
    record.Port = converter.Port;
    record.Address = converter.Address;
    record.Sensor = sensor;
    record.AsLeft = CubicOf(work.Coefficients, sensor);
    record.AsFound = CubicOf(before.Coefficients, sensor);
    record.AsFoundInForce = HasCalibration(before.Coefficients, sensor);
    record.RestoredFrom = restoredFrom;

    const std::vector<CalibrationPoint> points = PointsOf(work, sensor, work.PointsInUse(sensor));
    const std::vector<FitDeviation> rows = FitDeviations(record.AsLeft, points);
    const std::vector<std::optional<float>> asFound =
        record.AsFoundInForce ? AsFoundDeviations(record.AsFound, points)
                              : std::vector<std::optional<float>>(points.size());
    for (std::size_t k = 0; k < points.size(); ++k) {
        const FitDeviation& row = rows[k];
        record.Points.push_back({points[k].Raw, points[k].TrueTemp,
                                 row.Faulted ? std::nullopt : std::optional<double>(row.Fitted),
                                 row.Faulted ? std::nullopt : std::optional<double>(row.Deviation),
                                 Widened(asFound[k]),
                                 k < stabilities.size() ? stabilities[k] : std::nullopt});
    }
    record.MaxDeviation = Widened(LargestDeviation(rows));
    record.ResidualSd = ResidualStandardDeviation(rows);
    StampRecord(record, settings, programVersion, inUse);
    return record;
}

std::vector<CalibrationPoint> CollectedPoints(const CalibrationRecord& record) {
    std::vector<CalibrationPoint> points;
    for (const RecordPoint& point : record.Points) {
        points.push_back({point.Raw, static_cast<float>(point.TrueTemp)});
    }
    return points;
}

} // namespace zorm
