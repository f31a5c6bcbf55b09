// The shared database on a real PostgreSQL server: records wait in the local
// file while the server is down and arrive exactly once when it is back,
// also across a restart of the program; two programs committing at once;
// a send repeated after a lost acknowledgement; and the caller's thread never
// waits for a server that does not answer.
#include "records/history.h"
#include "records/record_stamp.h"
#include "records/sending.h"
#include "tests/records/store_fixture.h"
#include "tests/support/program_output.h"
#include "tests/support/random_records.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <set>
#include <sstream>

namespace zorm {
namespace {

using test::Random;

// Runs the event loop until `signal` of the history comes (or 30 s pass);
// `take` receives its arguments.
template <typename Signal, typename Take> bool Await(History& history, Signal signal, Take take) {
    bool came = false;
    QEventLoop loop;
    QObject::connect(&history, signal, &loop, [&](auto... args) {
        if (take(args...)) {
            came = true;
            loop.quit();
        }
    });
    QTimer::singleShot(30'000, &loop, &QEventLoop::quit);
    loop.exec();
    return came;
}

std::pair<int, QString> AwaitSending(History& history) {
    std::pair<int, QString> result;
    EXPECT_TRUE(Await(history, &History::SendingFinished, [&](int sent, const QString& error) {
        result = {sent, error};
        return true;
    }));
    return result;
}

// The answer to `request`, which comes as `signal`.
template <typename Answer>
Answer AwaitAnswer(History& history, void (History::*signal)(std::uint64_t, const Answer&),
                   std::uint64_t request) {
    Answer result;
    EXPECT_TRUE(Await(history, signal, [&](std::uint64_t id, const Answer& answer) {
        result = answer;
        return id == request;
    }));
    return result;
}

RecordList AwaitList(History& history, std::uint64_t request) {
    return AwaitAnswer(history, &History::Listed, request);
}

RecordsRead AwaitRecords(History& history, std::uint64_t request) {
    return AwaitAnswer(history, &History::RecordsReady, request);
}

// Stamped as a commit stamps them, a second apart from `first` on.
std::vector<CalibrationRecord> NewRecords(Random& random, int count,
                                          std::int64_t first = 1'700'000'000'000) {
    std::vector<CalibrationRecord> records;
    for (int i = 0; i < count; ++i) {
        records.push_back(test::PlainRecord(random, 0));
        StampRecord(records.back(), {}, "test");
        records.back().TimeUtcMs = first + i * 1000;
    }
    return records;
}

class SharedDatabase : public ::testing::Test {
protected:
    // A cluster of this test's own: the tests stop it.
    test::PgCluster cluster_;
    test::ScratchDirectory folder_;
    DatabaseUrl url_ = cluster_.Url("plant");
    QString localFile_ = QString::fromStdString((folder_.Path() / HistoryFileName).string());

    void SetUp() override { cluster_.CreateDatabase("plant"); }

    int ServerCount(const char* table) {
        return std::stoi(cluster_.Psql("plant", std::string("SELECT count(*) FROM ") + table));
    }

    std::set<std::string> ServerUuids() {
        std::istringstream lines(cluster_.Psql("plant", "SELECT uuid FROM calibration_record"));
        std::set<std::string> uuids;
        for (std::string line; std::getline(lines, line);) {
            uuids.insert(line);
        }
        return uuids;
    }

    // Runs records_driver; its standard output.
    std::FILE* StartDriver(const std::string& arguments) {
        const std::string command = std::string(ZORM_RECORDS_DRIVER) + " " + arguments;
        return ::popen(command.c_str(), "r");
    }
    static std::pair<int, std::string> Finish(std::FILE* driver) {
        return test::FinishProgram(driver);
    }
    // The UUIDs a driver printed, and what else it said.
    static std::set<std::string> PrintedUuids(const std::string& output) {
        std::istringstream lines(output);
        std::set<std::string> uuids;
        for (std::string line; std::getline(lines, line);) {
            if (line.size() == 36) {
                uuids.insert(line);
            }
        }
        return uuids;
    }
};

TEST_F(SharedDatabase, RecordsWaitWhileTheServerIsDownAndArriveOnce) {
    Random random(31);
    History history(localFile_, url_);
    int announced = -1;
    QObject::connect(&history, &History::PendingChanged, [&](int count) { announced = count; });
    ASSERT_TRUE(history.Open());
    EXPECT_EQ(AwaitSending(history), (std::pair<int, QString>{0, ""}));

    // Records of this station are on the server; then the server stops.
    const std::vector<CalibrationRecord> early = NewRecords(random, 1);
    ASSERT_TRUE(history.Commit(early));
    EXPECT_EQ(AwaitSending(history).first, 1);
    cluster_.Stop();

    const std::vector<CalibrationRecord> records = NewRecords(random, 2, 1'700'000'100'000);
    ASSERT_TRUE(history.Commit(records)) << history.LastError().toStdString();
    EXPECT_EQ(announced, 2);
    const auto [sent, error] = AwaitSending(history);
    EXPECT_EQ(sent, 0);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(history.Pending(), 2);
    const Correction tag = NewCorrection(early[0].Uuid, CorrectedField::Tag, "TT-9", {});
    ASSERT_TRUE(history.Correct(tag));
    EXPECT_EQ(announced, 3);
    AwaitSending(history);

    // While it is down the list is the local file's, and says so.
    const RecordList offline = AwaitList(history, history.RequestList({}));
    EXPECT_TRUE(offline.Error.isEmpty());
    EXPECT_FALSE(offline.SharedError.isEmpty());
    ASSERT_EQ(offline.Rows.size(), 3u);
    EXPECT_TRUE(offline.Rows[0].Unsent && offline.Rows[1].Unsent && !offline.Rows[2].Unsent);
    EXPECT_EQ(offline.Rows[2].Tag, "TT-9");

    cluster_.Start();
    history.SendNow();
    EXPECT_EQ(AwaitSending(history), (std::pair<int, QString>{3, ""}));
    EXPECT_EQ(history.Pending(), 0);
    EXPECT_EQ(announced, 0);
    history.SendNow();
    EXPECT_EQ(AwaitSending(history).first, 0);
    EXPECT_EQ(ServerCount("calibration_record"), 3);
    EXPECT_EQ(ServerCount("calibration_point"), 30);
    EXPECT_EQ(ServerCount("record_correction"), 1);

    // The server's list and records.
    const RecordList online = AwaitList(history, history.RequestList({}));
    EXPECT_TRUE(online.SharedError.isEmpty()) << online.SharedError.toStdString();
    ASSERT_EQ(online.Rows.size(), 3u);
    EXPECT_FALSE(online.Rows[0].Unsent);
    const RecordsRead read =
        AwaitRecords(history, history.RequestRecords({early[0].Uuid, records[1].Uuid}));
    ASSERT_EQ(read.Records.size(), 2u);
    EXPECT_TRUE(read.Records[0].Written == early[0]);
    EXPECT_EQ(read.Records[0].Latest.Tag, "TT-9");
    EXPECT_TRUE(read.Records[1].Written == records[1]);
    RecordFilter tagged;
    tagged.Tag = "TT-9";
    const RecordsRead matching = AwaitRecords(history, history.RequestMatching(tagged));
    ASSERT_EQ(matching.Records.size(), 1u);
    EXPECT_EQ(matching.Records[0].Written.Uuid, early[0].Uuid);
    EXPECT_EQ(matching.Records[0].Trail.size(), 1u);
}

// Without a shared database everything is the local file's, and nothing
// waits to be sent.
TEST(LocalHistory, ListsReadsAndFindsTheRecordsOfTheLocalFile) {
    test::ScratchDirectory folder;
    Random random(71);
    History history(QString::fromStdString((folder.Path() / HistoryFileName).string()),
                    std::nullopt);
    ASSERT_TRUE(history.Open());
    const std::vector<CalibrationRecord> records = NewRecords(random, 3);
    ASSERT_TRUE(history.Commit({records[0], records[1]}));
    ASSERT_TRUE(history.Commit({records[2]}));
    ASSERT_TRUE(history.Correct(NewCorrection(records[1].Uuid, CorrectedField::Note, "n", {})));
    EXPECT_EQ(history.Pending(), 0);

    const RecordList list = AwaitList(history, history.RequestList({{}, std::nullopt, 2}));
    EXPECT_TRUE(list.Error.isEmpty() && list.SharedError.isEmpty());
    ASSERT_EQ(list.Rows.size(), 2u);
    EXPECT_EQ(list.Rows[0].Uuid, records[2].Uuid);
    EXPECT_EQ(list.Rows[1].Uuid, records[1].Uuid);
    const RecordsRead read = AwaitRecords(history, history.RequestRecords({records[1].Uuid}));
    ASSERT_EQ(read.Records.size(), 1u);
    EXPECT_EQ(read.Records[0].Note, "n");
    RecordFilter filter;
    filter.ToUtcMs = records[1].TimeUtcMs;
    const RecordsRead older = AwaitRecords(history, history.RequestMatching(filter));
    ASSERT_EQ(older.Records.size(), 1u);
    EXPECT_TRUE(older.Records[0].Written == records[0]);
}

TEST_F(SharedDatabase, ARecordCommittedOfflineArrivesAfterTheProgramRestarted) {
    cluster_.Stop();
    const std::string folder = folder_.Path().string();
    const std::string url = url_.Text();
    const auto [status, output] = Finish(StartDriver("commit " + folder + " " + url + " 2 7"));
    ASSERT_EQ(status, 0) << output;
    const std::set<std::string> committed = PrintedUuids(output);
    ASSERT_GE(committed.size(), 2u);
    EXPECT_NE(output.find("pending " + std::to_string(committed.size())), std::string::npos)
        << output;

    cluster_.Start();
    const auto [sendStatus, sent] = Finish(StartDriver("send " + folder + " " + url));
    EXPECT_EQ(sendStatus, 0) << sent;
    EXPECT_NE(sent.find("sent " + std::to_string(committed.size()) + "\npending 0"),
              std::string::npos)
        << sent;
    const auto [againStatus, again] = Finish(StartDriver("send " + folder + " " + url));
    EXPECT_NE(again.find("sent 0\npending 0"), std::string::npos) << again;
    EXPECT_EQ(ServerUuids(), committed);
}

TEST_F(SharedDatabase, TwoProgramsCommittingAtOnceBringEveryRecordOnce) {
    test::ScratchDirectory other;
    const std::string url = url_.Text();
    std::FILE* first = StartDriver("commit " + folder_.Path().string() + " " + url + " 40 1");
    std::FILE* second = StartDriver("commit " + other.Path().string() + " " + url + " 40 2");
    const auto [firstStatus, firstOutput] = Finish(first);
    const auto [secondStatus, secondOutput] = Finish(second);
    ASSERT_EQ(firstStatus, 0) << firstOutput;
    ASSERT_EQ(secondStatus, 0) << secondOutput;
    EXPECT_NE(firstOutput.find("pending 0"), std::string::npos);
    EXPECT_NE(secondOutput.find("pending 0"), std::string::npos);

    std::set<std::string> committed = PrintedUuids(firstOutput);
    const std::set<std::string> theirs = PrintedUuids(secondOutput);
    committed.insert(theirs.begin(), theirs.end());
    EXPECT_GE(committed.size(), 80u);
    EXPECT_EQ(ServerUuids(), committed);
    EXPECT_EQ(ServerCount("calibration_record"), static_cast<int>(committed.size()));
    EXPECT_EQ(ServerCount("calibration_point"), 29 * static_cast<int>(committed.size()));

    // Whole, as each program wrote it.
    RecordDatabase server(DatabasePlace::SharedServer(url_));
    for (const auto& folder : {folder_.Path(), other.Path()}) {
        RecordDatabase local(
            DatabasePlace::LocalFile(QString::fromStdString((folder / HistoryFileName).string())));
        const auto rows = local.List({{}, std::nullopt, 0});
        ASSERT_TRUE(rows);
        std::vector<std::string> uuids;
        for (const RecordSummary& row : *rows) {
            uuids.push_back(row.Uuid);
        }
        const auto mine = local.Read(uuids);
        const auto there = server.Read(uuids);
        ASSERT_TRUE(mine && there && mine->size() == there->size());
        for (std::size_t i = 0; i < mine->size(); ++i) {
            EXPECT_TRUE((*mine)[i].Written == (*there)[i].Written);
        }
    }
}

TEST_F(SharedDatabase, ASendRepeatedAfterALostAcknowledgementStoresNothingTwice) {
    Random random(41);
    RecordDatabase local(DatabasePlace::LocalFile(localFile_));
    RecordDatabase server(DatabasePlace::SharedServer(url_));
    const std::vector<CalibrationRecord> records = NewRecords(random, 3);
    const Correction note = NewCorrection(records[0].Uuid, CorrectedField::Note, "n", {});
    ASSERT_TRUE(local.Store({records, {note}}, Queue::ForSending));
    const SendResult first = SendPending(local, server, 2);
    EXPECT_EQ(first.Sent, 4);
    EXPECT_TRUE(first.Error.isEmpty());

    // As if the program had stopped after the server's commit, before it
    // marked the entries sent.
    {
        test::RawConnection raw(DatabasePlace::LocalFile(localFile_));
        ASSERT_TRUE(raw.Exec("UPDATE outbox SET sent_at = NULL"));
    }
    EXPECT_EQ(local.UnsentCount(), 4);
    const SendResult again = SendPending(local, server);
    EXPECT_EQ(again.Sent, 4);
    EXPECT_EQ(local.UnsentCount(), 0);
    EXPECT_EQ(ServerCount("calibration_record"), 3);
    EXPECT_EQ(ServerCount("calibration_point"), 30);
    EXPECT_EQ(ServerCount("point_stability"), 21); // seven of each record's ten points
    EXPECT_EQ(ServerCount("record_correction"), 1);
    const auto sent = server.Read({records[0].Uuid, records[1].Uuid, records[2].Uuid});
    ASSERT_TRUE(sent && sent->size() == 3);
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_TRUE((*sent)[i].Written == records[i]) << i;
    }

    // A server that refuses: the entries wait, and the failure is the
    // server's.
    ASSERT_TRUE(local.Store({NewRecords(random, 1), {}}, Queue::ForSending));
    cluster_.Stop();
    server.Close();
    const SendResult refused = SendPending(local, server);
    EXPECT_TRUE(refused.ServerFailed);
    EXPECT_FALSE(refused.Error.isEmpty());
    EXPECT_EQ(local.UnsentCount(), 1);
}

// A server that takes the connection and never answers: the commit and the
// requests return at once, and the worker gives up after its time-out.
TEST_F(SharedDatabase, AServerThatDoesNotAnswerNeverHoldsUpTheCaller) {
    const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent, 8), 0);
    socklen_t length = sizeof address;
    ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
    const DatabaseUrl nowhere{"zorm", "127.0.0.1", ntohs(address.sin_port), "plant"};

    Random random(51);
    History history(localFile_, nowhere);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(history.Open());
    ASSERT_TRUE(history.Commit(NewRecords(random, 1)));
    EXPECT_EQ(history.Pending(), 1);
    const std::uint64_t request = history.RequestList({});
    EXPECT_LT(clock.elapsed(), 500) << "the caller waited for the network";

    const RecordList list = AwaitList(history, request);
    EXPECT_GE(clock.elapsed(), 4000) << "the worker did not wait for the server";
    EXPECT_LT(clock.elapsed(), 8000) << "the commit's send waited for it again";
    EXPECT_FALSE(list.SharedError.isEmpty());
    EXPECT_EQ(list.Rows.size(), 1u);
    // Asked again at once, the list does not wait for the same server again.
    clock.restart();
    EXPECT_EQ(AwaitList(history, history.RequestList({})).Rows.size(), 1u);
    EXPECT_LT(clock.elapsed(), 1000);
    ::close(silent);
}

} // namespace
} // namespace zorm
