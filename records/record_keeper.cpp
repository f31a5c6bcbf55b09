#include "records/record_keeper.h"

#include <utility>

namespace zorm {

SharedDatabaseInUse ChooseSharedDatabase(const std::optional<DatabaseUrl>& given,
                                         const std::string& stationAddress) {
    if (given || stationAddress.empty()) {
        return {given, {}};
    }
    auto parsed = ParseDatabaseUrl(stationAddress);
    if (const std::string* why = std::get_if<std::string>(&parsed)) {
        return {std::nullopt,
                "Adresu sdílené databáze v souboru " + std::string(StationSettingsFileName) +
                    " nelze použít, záznamy zůstávají jen v místním souboru: " + *why};
    }
    return {std::get<DatabaseUrl>(std::move(parsed)), {}};
}

RecordKeeper::RecordKeeper(History& history, std::string programVersion, SharedDatabaseInUse shared)
    : history_(history), version_(std::move(programVersion)), shared_(std::move(shared)) {}

bool RecordKeeper::Commit(const SensorParamSet& work, const SensorParamSet& before,
                          const std::map<int, std::optional<std::string>>& sensors,
                          const ConverterIdentity& converter,
                          const std::map<int, PointStabilities>& stabilities) {
    const StationSettings settings = LoadStationSettings();
    const std::optional<Instrument> inUse = history_.InstrumentInUse(settings);
    for (const auto& [sensor, restoredFrom] : sensors) {
        const auto taken = stabilities.find(sensor);
        waiting_.push_back(MakeCalibrationRecord(
            work, before, sensor, converter, settings, version_, restoredFrom,
            taken == stabilities.end() ? PointStabilities() : taken->second, inUse));
    }
    return WriteWaiting();
}

std::optional<Instrument> RecordKeeper::InstrumentInUse() {
    return history_.InstrumentInUse(LoadStationSettings());
}

bool RecordKeeper::WriteWaiting() {
    if (waiting_.empty()) {
        return true;
    }
    if (!history_.Commit(waiting_)) {
        return false;
    }
    waiting_.clear();
    return true;
}

} // namespace zorm
