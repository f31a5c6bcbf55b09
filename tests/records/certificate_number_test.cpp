// Certificate numbers of stations sharing one PostgreSQL server, each station
// a program (records_driver) with a record file of its own: two stations at
// once never share a number, a record keeps its number wherever it is asked
// for again, a station without the server goes on counting (and a new one
// waits for it), and a station whose file was replaced goes on after the
// numbers the server holds.
#include "tests/records/store_fixture.h"
#include "tests/support/program_output.h"
#include "tests/support/random_records.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

namespace zorm {
namespace {

class CertificateNumbers : public ::testing::Test {
protected:
    test::PgCluster cluster_;
    test::ScratchDirectory folders_;
    test::Random random_{21};

    void SetUp() override { cluster_.CreateDatabase("plant"); }

    std::string Folder(const std::string& station) {
        const std::filesystem::path folder = folders_.Path() / station;
        std::filesystem::create_directories(folder);
        return folder.string();
    }

    std::vector<std::string> Records(int count) {
        std::vector<std::string> uuids;
        for (int i = 0; i < count; ++i) {
            uuids.push_back(test::RandomUuid(random_));
        }
        return uuids;
    }

    std::FILE* Start(const std::string& station, const std::vector<std::string>& records) {
        std::string command = std::string(ZORM_RECORDS_DRIVER) + " certify " + Folder(station) +
                              " '" + cluster_.Url("plant").Text() + "' " + station;
        for (const std::string& uuid : records) {
            command += " " + uuid;
        }
        return ::popen(command.c_str(), "r");
    }

    struct Answers {
        // Each record's answers in order: a number, or "!" and the error.
        std::map<std::string, std::vector<std::string>> Numbers;
        std::string Pending;
    };
    static Answers Finish(std::FILE* driver) {
        const auto [status, output] = test::FinishProgram(driver);
        EXPECT_EQ(status, 0) << output;
        Answers answers;
        std::istringstream lines(output);
        for (std::string line; std::getline(lines, line);) {
            const std::size_t blank = line.find(' ');
            if (line.starts_with("pending ")) {
                answers.Pending = line.substr(blank + 1);
            } else if (blank != std::string::npos) {
                answers.Numbers[line.substr(0, blank)].push_back(line.substr(blank + 1));
            }
        }
        return answers;
    }
    Answers Certify(const std::string& station, const std::vector<std::string>& records) {
        return Finish(Start(station, records));
    }
    static std::string First(const Answers& answers, const std::string& record) {
        const auto found = answers.Numbers.find(record);
        return found == answers.Numbers.end() ? "(none)" : found->second.front();
    }

    std::string ServerNumber(const std::string& record) {
        return cluster_.Psql("plant", "SELECT string_agg(number, ',') FROM certificate WHERE "
                                      "record_uuid = '" +
                                          record + "'");
    }
};

TEST_F(CertificateNumbers, TwoStationsAtOnceNeverShareANumberAndFindEachOthers) {
    const std::vector<std::string> a = Records(25);
    const std::vector<std::string> b = Records(25);
    // Each asks for its records twice over, both stations at the same time.
    std::vector<std::string> twiceA = a;
    twiceA.insert(twiceA.end(), a.begin(), a.end());
    std::vector<std::string> twiceB = b;
    twiceB.insert(twiceB.end(), b.begin(), b.end());
    std::FILE* stationA = Start("kalibrace-a", twiceA);
    std::FILE* stationB = Start("kalibrace-b", twiceB);
    const Answers fromA = Finish(stationA);
    const Answers fromB = Finish(stationB);
    EXPECT_EQ(fromA.Pending, "0");
    EXPECT_EQ(fromB.Pending, "0");

    std::set<std::string> numbers;
    for (const auto& [answers, records, station] :
         {std::tuple{&fromA, &a, "kalibrace-a/"}, std::tuple{&fromB, &b, "kalibrace-b/"}}) {
        for (const std::string& record : *records) {
            const std::vector<std::string>& given = answers->Numbers.at(record);
            ASSERT_EQ(given.size(), 2u);
            EXPECT_EQ(given[0], given[1]);
            EXPECT_TRUE(given[0].starts_with(station)) << given[0];
            numbers.insert(given[0]);
        }
    }
    EXPECT_EQ(numbers.size(), 50u);
    EXPECT_EQ(First(fromA, a.back()), "kalibrace-a/00025");
    EXPECT_EQ(cluster_.Psql("plant", "SELECT count(*), count(DISTINCT number) FROM certificate"),
              "50|50\n");

    // Asked at the other station, a record keeps the number it has.
    const Answers crossA = Certify("kalibrace-a", {b[0], b[24]});
    const Answers crossB = Certify("kalibrace-b", {a[3]});
    EXPECT_EQ(First(crossA, b[0]), First(fromB, b[0]));
    EXPECT_EQ(First(crossA, b[24]), First(fromB, b[24]));
    EXPECT_EQ(First(crossB, a[3]), First(fromA, a[3]));
    EXPECT_EQ(cluster_.Psql("plant", "SELECT count(*) FROM certificate"), "50\n");
}

TEST_F(CertificateNumbers, AStationWithoutTheServerGoesOnCountingAndAReplacedFileGoesOnAfterIt) {
    const std::vector<std::string> records = Records(6);
    const Answers online = Certify("kalibrace-a", {records[0], records[1], records[2]});
    EXPECT_EQ(First(online, records[2]), "kalibrace-a/00003");

    cluster_.Stop();
    const Answers offline = Certify("kalibrace-a", {records[3], records[0]});
    EXPECT_EQ(First(offline, records[3]), "kalibrace-a/00004");
    EXPECT_EQ(First(offline, records[0]), "kalibrace-a/00001");
    EXPECT_EQ(offline.Pending, "1");
    // A station that never gave a number waits for the server.
    const std::string refused = First(Certify("kalibrace-c", {records[4]}), records[4]);
    EXPECT_TRUE(refused.starts_with("!")) << refused;
    EXPECT_NE(refused.find("nelze přidělit"), std::string::npos) << refused;

    cluster_.Start();
    const Answers back = Certify("kalibrace-a", {records[3]});
    EXPECT_EQ(First(back, records[3]), "kalibrace-a/00004");
    EXPECT_EQ(back.Pending, "0");
    EXPECT_EQ(ServerNumber(records[3]), "kalibrace-a/00004\n");

    // The station's record file replaced: it counts on after the server's
    // numbers, and a record it numbered before keeps its number.
    std::filesystem::remove_all(Folder("kalibrace-a"));
    const Answers replaced = Certify("kalibrace-a", {records[5], records[1]});
    EXPECT_EQ(First(replaced, records[5]), "kalibrace-a/00005");
    EXPECT_EQ(First(replaced, records[1]), "kalibrace-a/00002");
    EXPECT_EQ(cluster_.Psql("plant", "SELECT count(*) FROM certificate"), "5\n");
}

} // namespace
} // namespace zorm
