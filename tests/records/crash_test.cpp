// A program killed (SIGKILL) at random moments during 200 commits, each
// Parametry.par first and then its record in one transaction: after every
// kill the record file opens and passes SQLite's integrity check, every
// record is whole or absent (the records present are the first k commits',
// each exactly as committed), and Parametry.par is a whole file of the last
// commit that got through or of the one after it.
#include "data/param_files.h"
#include "records/record_database.h"
#include "tests/records/commit_sequence.h"
#include "tests/records/store_fixture.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <thread>

namespace zorm {
namespace {

constexpr int Commits = 200;

std::vector<std::uint8_t> FileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Runs the driver's commits in `folder`, killing it after `killAfterMs`
// (never, when negative); whether it finished by itself.
bool RunCommits(const std::filesystem::path& folder, int killAfterMs) {
    const pid_t child = ::fork();
    if (child == 0) {
        const std::string total = std::to_string(Commits);
        ::execl(ZORM_RECORDS_DRIVER, ZORM_RECORDS_DRIVER, "commits", folder.c_str(), total.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (killAfterMs >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs));
        ::kill(child, SIGKILL);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFEXITED(status)) {
        EXPECT_EQ(WEXITSTATUS(status), 0);
        return true;
    }
    return false;
}

// How many commits got through, after checking everything said above.
int CheckFolder(const std::filesystem::path& folder) {
    const DatabasePlace place =
        DatabasePlace::LocalFile(QString::fromStdString((folder / HistoryFileName).string()));
    int stored = 0;
    if (std::filesystem::exists(folder / HistoryFileName)) {
        {
            test::RawConnection raw(place);
            EXPECT_EQ(raw.Value("PRAGMA integrity_check"), "ok");
        }
        RecordDatabase database(place);
        EXPECT_TRUE(database.Open()) << database.LastError().toStdString();
        const auto rows = database.List({{}, std::nullopt, 0});
        EXPECT_TRUE(rows);
        stored = rows ? static_cast<int>(rows->size()) : 0;
        std::vector<std::string> uuids;
        for (int i = 0; i < stored; ++i) {
            uuids.push_back(test::CommitRecord(i).Uuid);
        }
        const auto read = database.Read(uuids);
        EXPECT_TRUE(read && read->size() == uuids.size())
            << "not the first " << stored << " commits";
        for (std::size_t i = 0; read && i < read->size(); ++i) {
            EXPECT_TRUE((*read)[i].Written == test::CommitRecord(static_cast<int>(i))) << i;
        }
    }
    const auto parameters = FileBytes(folder / ParametersFileName);
    if (!parameters.empty() || stored > 0) {
        const bool last = stored > 0 && parameters == test::ParametersImage(stored - 1);
        const bool next = parameters == test::ParametersImage(stored);
        EXPECT_TRUE(last || next) << parameters.size() << " bytes after " << stored << " records";
    }
    return stored;
}

TEST(Crash, KilledDuringCommitsLeavesWholeRecordsAndAWholeParameterFile) {
    test::ScratchDirectory folder;
    std::mt19937 random(12345);
    int kills = 0;
    int stored = 0;
    // Each run is killed at a random moment of its first `window` ms. A run
    // that got no commit through was killed before its first one (a slow
    // start on a loaded machine): the next one gets twice as long. A run that
    // did shortens it again, so that an idle machine, which commits in a few
    // milliseconds, is killed many times too.
    constexpr int ShortestWindowMs = 10;
    int window = ShortestWindowMs;
    for (int run = 0; run < 400 && stored < Commits; ++run) {
        const bool finished = RunCommits(folder.Path(), static_cast<int>(random() % window));
        kills += finished ? 0 : 1;
        const int now = CheckFolder(folder.Path());
        ASSERT_GE(now, stored) << "a committed record was lost";
        window =
            now > stored ? std::max(ShortestWindowMs, window / 2) : std::min(window * 2, 10000);
        stored = now;
        if (::testing::Test::HasFailure()) {
            break;
        }
    }
    EXPECT_EQ(stored, Commits);
    EXPECT_GE(kills, 5) << "too few kills to tell anything";
    std::cout << kills << " kills during " << Commits << " commits\n";
}

} // namespace
} // namespace zorm
