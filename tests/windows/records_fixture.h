// The calibration records of a window test: the store on Historie.sqlite of
// the scratch working directory, the keeper the windows write through, and
// the records read back through a connection of the test's own.
#pragma once

#include "records/history.h"
#include "records/record_keeper.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zorm::test {

class RecordsOnDisk {
public:
    explicit RecordsOnDisk(std::optional<DatabaseUrl> shared = std::nullopt)
        : history(QString::fromLatin1(HistoryFileName), shared),
          keeper(history, "test", {shared, {}}) {}

    // Every record with its trail, oldest first.
    std::vector<RecordDetails> All() const {
        RecordDatabase database(DatabasePlace::LocalFile(QString::fromLatin1(HistoryFileName)));
        const auto rows = database.List({{}, std::nullopt, 0});
        EXPECT_TRUE(rows) << database.LastError().toStdString();
        std::vector<std::string> uuids;
        for (const RecordSummary& row : rows.value_or(std::vector<RecordSummary>{})) {
            uuids.insert(uuids.begin(), row.Uuid);
        }
        return database.Read(uuids).value_or(std::vector<RecordDetails>{});
    }

    History history;
    RecordKeeper keeper;
};

// Lets the event loop run until `done` holds, at most 10 s; whether it does.
inline bool AwaitUntil(const std::function<bool()>& done) {
    const QDeadlineTimer deadline(10'000);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return done();
}

} // namespace zorm::test
