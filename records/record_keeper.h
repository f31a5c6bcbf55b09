// The calibration records of one run of the window program: what a commit
// of the calibration window hands over, and the records that the local file
// refused, which wait in memory and go with the next commit.
//
// The station settings (Stanice.ini) are read at each commit, so that what
// the history window set a moment ago is what the next record takes.
#pragma once

#include "records/commit_record.h"
#include "records/history.h"

#include <QString>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zorm {

// The shared database a program uses, and why the station's is not used
// where it is set but cannot be.
struct SharedDatabaseInUse {
    std::optional<DatabaseUrl> Url;
    // Czech, for the operator; empty when nothing is wrong.
    std::string Problem;
};

// The address given on the command line where there is one (checked by the
// caller), else the station's SharedDatabase; a station address that is
// refused leaves the records in the local file, and says why.
SharedDatabaseInUse ChooseSharedDatabase(const std::optional<DatabaseUrl>& given,
                                         const std::string& stationAddress);

class RecordKeeper {
public:
    RecordKeeper(History& history, std::string programVersion, SharedDatabaseInUse shared = {});
    RecordKeeper(const RecordKeeper&) = delete;
    RecordKeeper& operator=(const RecordKeeper&) = delete;

    History& Store() { return history_; }
    const SharedDatabaseInUse& Shared() const { return shared_; }

    // The records of the sensors a commit of `work` over the user set
    // `before` brings, each with the record it restored where it did and
    // the stabilities its points were taken with (slot 1 first; a sensor
    // left out has none), made by MakeCalibrationRecord, written after
    // those that waited, all in one transaction. False when the local file
    // refuses them (LastError()): then all of them wait for the next commit.
    bool Commit(const SensorParamSet& work, const SensorParamSet& before,
                const std::map<int, std::optional<std::string>>& sensors,
                const ConverterIdentity& converter,
                const std::map<int, PointStabilities>& stabilities = {});
    // The reference instrument the station settings pick now, as the next
    // commit's records will copy it (History::InstrumentInUse).
    std::optional<Instrument> InstrumentInUse();
    // Tries what waits once more; true when nothing waits any longer.
    bool WriteWaiting();
    std::size_t Waiting() const { return waiting_.size(); }
    QString LastError() const { return history_.LastError(); }

private:
    History& history_;
    std::string version_;
    SharedDatabaseInUse shared_;
    std::vector<CalibrationRecord> waiting_;
};

} // namespace zorm
