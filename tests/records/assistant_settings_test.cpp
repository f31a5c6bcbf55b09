// The calibration assistant's settings among the station settings.
#include "records/assistant_settings.h"
#include "records/station_settings.h"
#include "tests/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace zorm {
namespace {

std::string Contents(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The six keys in any case, a decimal comma; values beyond their range or
// no numbers at all read as the defaults; only what differs from the
// defaults is written, and it reads back the same.
TEST(StationSettings, AssistantKeysReadAndWritten) {
    const StationSettings read = ParseStationSettings("Operator=Jana\n"
                                                      "assistant.open=1\n"
                                                      "Assistant.WindowSeconds=120\n"
                                                      "Assistant.SlopeLimitCelsius=0,02\n"
                                                      "Assistant.DeviationLimitCelsius=0.001\n"
                                                      "ASSISTANT.SLOPELIMITBITS=5\n"
                                                      "Assistant.DeviationLimitBits=0.5\n");
    AssistantSettings expected;
    expected.Open = true;
    expected.Stability = {120, {0.02, 0.001}, {5, 0.5}};
    EXPECT_EQ(read.Assistant, expected);
    EXPECT_EQ(read.Operator, "Jana");
    EXPECT_TRUE(read.Other.empty());
    EXPECT_EQ(ParseStationSettings(FormatStationSettings(read)), read);

    const StationSettings wrong = ParseStationSettings("Assistant.Open=yes\n"
                                                       "Assistant.WindowSeconds=9\n"
                                                       "Assistant.SlopeLimitCelsius=0\n"
                                                       "Assistant.DeviationLimitCelsius=-1\n"
                                                       "Assistant.SlopeLimitBits=2 bits\n"
                                                       "Assistant.DeviationLimitBits=nan\n");
    EXPECT_EQ(wrong.Assistant, AssistantSettings{});
    EXPECT_EQ(ParseStationSettings("Assistant.WindowSeconds=301").Assistant, AssistantSettings{});
    EXPECT_EQ(ParseStationSettings("Assistant.WindowSeconds=30.5").Assistant, AssistantSettings{});
    EXPECT_EQ(ParseStationSettings("Assistant.WindowSeconds=300").Assistant.Stability.WindowSeconds,
              300);

    EXPECT_EQ(AssistantLines({}), "");
    AssistantSettings changed;
    changed.Stability.Bits.StandardDeviation = 1.5;
    EXPECT_EQ(AssistantLines(changed), "Assistant.DeviationLimitBits=1.5\n");
}

// Saving the panel keeps every other line of the file; a file that is there
// but cannot be read is left alone rather than replaced by the assistant's
// lines (the check runs as nobody, owning the file, when the tests run as
// root, who reads everything).
TEST(StationSettings, AssistantSavedBesideTheOtherLines) {
    test::ScratchDirectory scratch(test::ScratchDirectory::Enter);
    EXPECT_EQ(LoadAssistantSettings(), AssistantSettings{});
    const std::string others =
        "Operator=Jana\nTag.COM3.1=TT-101\nAmbientTemperature=22.5\nLineOfANewerBuild=1\n";
    std::ofstream(StationSettingsFileName) << others;
    AssistantSettings panel;
    panel.Open = true;
    panel.Stability.WindowSeconds = 60;
    ASSERT_TRUE(SaveAssistantSettings(panel));
    EXPECT_EQ(LoadAssistantSettings(), panel);
    const StationSettings station = LoadStationSettings();
    EXPECT_EQ(station.Operator, "Jana");
    EXPECT_EQ(station.TagOf(3, 1), "TT-101");
    EXPECT_EQ(station.AmbientTemperature, 22.5);
    ASSERT_EQ(station.Other.size(), 1u);
    EXPECT_EQ(station.Other.front().first, "LineOfANewerBuild");

    std::filesystem::permissions(scratch.Path(), std::filesystem::perms::all);
    std::ofstream(StationSettingsFileName, std::ios::trunc) << others;
    std::filesystem::permissions(StationSettingsFileName, std::filesystem::perms::owner_write);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(StationSettingsFileName, 65534, 65534), 0);
        ASSERT_EQ(::seteuid(65534), 0);
    }
    const bool saved = SaveAssistantSettings(panel);
    if (root) {
        ASSERT_EQ(::seteuid(0), 0);
    }
    EXPECT_FALSE(saved);
    std::filesystem::permissions(StationSettingsFileName, std::filesystem::perms::owner_read,
                                 std::filesystem::perm_options::add);
    EXPECT_EQ(Contents(StationSettingsFileName), others);
}

} // namespace
} // namespace zorm
