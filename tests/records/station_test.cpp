// The address of a shared database, the station settings file and the
// stamp every record of the station carries.
#include "records/database_url.h"
#include "records/record_stamp.h"
#include "records/station_settings.h"
#include "tests/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <QString>
#include <QSysInfo>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>

namespace zorm {
namespace {

TEST(DatabaseUrl, TakesTheFormsAPlantWrites) {
    struct Case {
        const char* text;
        DatabaseUrl url;
        const char* canonical;
    };
    const Case cases[] = {
        {"postgresql://jana@db.plant/zorm",
         {"jana", "db.plant", std::nullopt, "zorm"},
         "postgresql://jana@db.plant/zorm"},
        {"postgres://jana@10.0.0.7:6543/kalibrace",
         {"jana", "10.0.0.7", 6543, "kalibrace"},
         "postgresql://jana@10.0.0.7:6543/kalibrace"},
        {"postgresql://jana@[fe80::1]:5432/zorm",
         {"jana", "fe80::1", 5432, "zorm"},
         "postgresql://jana@[fe80::1]:5432/zorm"},
        {"postgresql://zorm@%2Fvar%2Frun%2Fpostgresql/z",
         {"zorm", "/var/run/postgresql", std::nullopt, "z"},
         "postgresql://zorm@%2Fvar%2Frun%2Fpostgresql/z"},
        {"postgresql://j%40plant@db/k%C3%A1l",
         {"j@plant", "db", std::nullopt, "k\xC3\xA1l"},
         "postgresql://j%40plant@db/k%C3%A1l"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = ParseDatabaseUrl(c.text);
        ASSERT_TRUE(std::holds_alternative<DatabaseUrl>(parsed)) << std::get<std::string>(parsed);
        EXPECT_EQ(std::get<DatabaseUrl>(parsed), c.url);
        EXPECT_EQ(c.url.Text(), c.canonical);
        EXPECT_EQ(std::get<DatabaseUrl>(ParseDatabaseUrl(c.url.Text())), c.url);
    }
}

TEST(DatabaseUrl, RefusesAPasswordAndWhatIsNotAnAddressSayingWhy) {
    struct Case {
        const char* text;
        const char* why;
    };
    const Case cases[] = {
        {"postgresql://jana:tajne@db/zorm", "PGPASSWORD"},
        {"postgresql://jana:@db/zorm", "heslo"},
        {"mysql://jana@db/zorm", "postgresql://"},
        {"postgresql://db/zorm", "uživatel"},
        {"postgresql://@db/zorm", "uživatel"},
        {"postgresql://jana@/zorm", "počítač"},
        {"postgresql://jana@db", "databáze"},
        {"postgresql://jana@db/", "databáze"},
        {"postgresql://jana@db/a/b", "lomítko"},
        {"postgresql://jana@db:0/zorm", "port"},
        {"postgresql://jana@db:65536/zorm", "port"},
        {"postgresql://jana@db:54x/zorm", "port"},
        {"postgresql://jana@db:/zorm", "port"},
        {"postgresql://jana@[::1/zorm", "]"},
        {"postgresql://jana@db/zorm?sslmode=disable", "?"},
        {"postgresql://jana@db/zo%2", "%XX"},
        {"postgresql://jana@db/zo%0Arm", "řídicí"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = ParseDatabaseUrl(c.text);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
        const std::string& message = std::get<std::string>(parsed);
        EXPECT_NE(message.find(c.why), std::string::npos) << message;
        if (std::string_view(c.text).starts_with("postgresql://jana:")) {
            continue; // below
        }
        EXPECT_NE(message.find(c.text), std::string::npos) << message;
    }
    // The message names the address, the password masked: it goes to the
    // screen and to standard error.
    for (const auto& [text, shown] :
         {std::pair{"postgresql://jana:tajne@db/zorm", "\"postgresql://jana:****@db/zorm\""},
          {"postgres://jana:@db:5433/zorm", "\"postgres://jana:****@db:5433/zorm\""},
          {"postgresql://jana:ta@jne@db/zorm", "\"postgresql://jana:****@db/zorm\""}}) {
        const auto parsed = ParseDatabaseUrl(text);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << text;
        const std::string& message = std::get<std::string>(parsed);
        EXPECT_NE(message.find(shown), std::string::npos) << message;
        EXPECT_EQ(message.find("tajne"), std::string::npos) << message;
        EXPECT_EQ(message.find("jne"), std::string::npos) << message;
    }
}

TEST(StationSettings, ReadsWritesAndKeepsWhatANewerBuildWrote) {
    const StationSettings settings =
        ParseStationSettings("\xEF\xBB\xBF; a comment\r\n"
                             "operator = Jana Nov\xC3\xA1kov\xC3\xA1\r\n"
                             "ReferenceDescription=Pt100\n"
                             "ReferenceSerialNumber=12345\n"
                             "ReferenceCertificateNumber=K-2024/117\n"
                             "SharedDatabase=postgresql://jana@db/zorm\n"
                             "Tag.COM3.1=TT-101\n"
                             "tag.com12.10=TT 7\n"
                             "Tag.COM3=no address\n"
                             "FutureSetting=22.5\n");
    EXPECT_EQ(settings.Operator, "Jana Nov\xC3\xA1kov\xC3\xA1");
    EXPECT_EQ(settings.Reference, (ReferenceInstrument{"Pt100", "12345", "K-2024/117"}));
    EXPECT_EQ(settings.SharedDatabase, "postgresql://jana@db/zorm");
    EXPECT_EQ(settings.TagOf(3, 1), "TT-101");
    EXPECT_EQ(settings.TagOf(12, 10), "TT 7");
    EXPECT_EQ(settings.TagOf(3, 2), std::nullopt);
    ASSERT_EQ(settings.Other.size(), 2u);
    EXPECT_EQ(settings.Other[1], (std::pair<std::string, std::string>{"FutureSetting", "22.5"}));

    EXPECT_EQ(ParseStationSettings(FormatStationSettings(settings)), settings);

    // A value typed with line breaks stays one line of the file.
    StationSettings typed = settings;
    typed.Operator = " Jana\nNov\xC3\xA1kov\xC3\xA1\r\n";
    typed.Tags[{1, 1}] = "A\nB";
    typed.Tags[{2, 1}] = "";
    const StationSettings reread = ParseStationSettings(FormatStationSettings(typed));
    EXPECT_EQ(reread.Operator, "Jana Nov\xC3\xA1kov\xC3\xA1");
    EXPECT_EQ(reread.TagOf(1, 1), "A B");
    EXPECT_EQ(reread.Tags.count({2, 1}), 0u);
    EXPECT_EQ(reread.Other, settings.Other);
}

TEST(StationSettings, LiveInTheDataFolder) {
    test::ScratchDirectory scratch(test::ScratchDirectory::Enter);
    EXPECT_EQ(LoadStationSettings(), StationSettings{});
    StationSettings settings;
    settings.Operator = "Eva";
    settings.Tags[{1, 1}] = "TT-1";
    ASSERT_TRUE(SaveStationSettings(settings));
    EXPECT_EQ(LoadStationSettings(), settings);

    // A folder that takes no file: the save says so.
    std::filesystem::remove(StationSettingsFileName);
    std::filesystem::create_directory(StationSettingsFileName);
    EXPECT_FALSE(SaveStationSettings(settings));
}

TEST(RecordStamp, TakesTheStationSettingsOrSaysTheyAreUnset) {
    StationSettings settings;
    settings.Tags[{3, 1}] = "TT-101";
    CalibrationRecord record;
    record.Port = 3;
    record.Address = 1;
    const auto before = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    StampRecord(record, settings, "1.2.3");
    const auto after = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    EXPECT_TRUE(
        std::regex_match(record.Uuid, std::regex("[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}")))
        << record.Uuid;
    EXPECT_GE(record.TimeUtcMs, before);
    EXPECT_LE(record.TimeUtcMs, after);
    EXPECT_EQ(record.Station, QSysInfo::machineHostName().toStdString());
    EXPECT_EQ(record.ProgramVersion, "1.2.3");
    EXPECT_EQ(record.Operator, "neuvedeno");
    EXPECT_EQ(record.Reference, (ReferenceInstrument{"neuvedeno", "neuvedeno", "neuvedeno"}));
    EXPECT_EQ(record.Tag, "TT-101");

    settings.Operator = "Eva";
    settings.Reference.Description = "Pt100";
    CalibrationRecord other;
    other.Port = 3;
    other.Address = 2;
    StampRecord(other, settings, "1.2.3");
    EXPECT_NE(other.Uuid, record.Uuid);
    EXPECT_EQ(other.Operator, "Eva");
    EXPECT_EQ(other.Reference.Description, "Pt100");
    EXPECT_EQ(other.Reference.SerialNumber, "neuvedeno");
    EXPECT_EQ(other.Tag, std::nullopt);

    const Correction correction = NewCorrection(record.Uuid, CorrectedField::Tag, "TT-9", settings);
    EXPECT_EQ(correction.RecordUuid, record.Uuid);
    EXPECT_EQ(correction.Author, "Eva");
    EXPECT_NE(correction.Uuid, record.Uuid);
}

} // namespace
} // namespace zorm
