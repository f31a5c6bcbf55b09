// The JSON writer against Qt's JSON reader, and the points file.
#include "cli/json.h"
#include "cli/points_file.h"
#include "cli/session.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <string>

#include <stdio.h>

namespace zorm::cli {
namespace {

QJsonArray ReadBack(const Json& array) {
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(array.Text()), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << array.Text();
    return document.array();
}

// Every finite double reads back to the same bits: random bit patterns, so
// subnormals, huge and tiny exponents and negative zero all come up.
TEST(Json, DoublesReadBackToTheSameBits) {
    std::mt19937_64 rng(96);
    Json values = Json::Array{};
    std::vector<double> written;
    while (written.size() < 20000) {
        const double v = std::bit_cast<double>(rng());
        if (std::isfinite(v)) {
            values.Add(v);
            written.push_back(v);
        }
    }
    for (const double v : {0.0, -0.0, 1.0, 0.1, std::numeric_limits<double>::denorm_min(),
                           std::numeric_limits<double>::max(), 1e300 * 10}) {
        values.Add(v);
        written.push_back(v);
    }
    const QJsonArray back = ReadBack(values);
    ASSERT_EQ(back.size(), static_cast<qsizetype>(written.size()));
    for (std::size_t k = 0; k < written.size(); ++k) {
        const double read = back[static_cast<qsizetype>(k)].toDouble();
        // Qt keeps a zero as the integer 0, whatever its sign; the text
        // keeps it (below).
        ASSERT_EQ(std::bit_cast<std::uint64_t>(read == 0 ? written[k] : read),
                  std::bit_cast<std::uint64_t>(written[k]))
            << written[k];
    }
    EXPECT_EQ(Json(Json::Array{-0.0, 0.0}).Text(), "[-0.0,0]");
    // Infinity and NaN have no JSON form.
    EXPECT_EQ(Json(Json::Array{std::numeric_limits<double>::infinity(), std::nan(""),
                               std::int64_t{-9007199254740993}})
                  .Text(),
              "[null,null,-9007199254740993]");
}

TEST(Json, StringsOfAnyBytesStayValidAndReadBack) {
    const std::string texts[] = {"Připojeno zařízení", "quote \" backslash \\ slash /",
                                 "tab\tCR\rLF\n\x01\x1f\x7f", "\xF0\x9F\x98\x80 four bytes",
                                 std::string("nul \0 inside", 12),
                                 // Not UTF-8: a lone continuation byte, a cut sequence, an overlong
                                 // form and a surrogate.
                                 "a\x80z", "\xC5", "\xC0\xAF", "\xED\xA0\x80"};
    Json values = Json::Array{};
    for (const std::string& t : texts) {
        values.Add(t);
    }
    const QJsonArray back = ReadBack(values);
    ASSERT_EQ(back.size(), 9);
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(back[k].toString(), QString::fromUtf8(texts[k].data(), texts[k].size()));
    }
    EXPECT_EQ(back[5].toString(), QStringLiteral("a\uFFFDz"));
    EXPECT_EQ(back[6].toString(), QStringLiteral("\uFFFD"));
    EXPECT_EQ(back[7].toString(), QStringLiteral("\uFFFD\uFFFD"));
    EXPECT_EQ(back[8].toString(), QStringLiteral("\uFFFD\uFFFD\uFFFD"));
}

// A member or item once taken stays the same value while more are added.
TEST(Json, MembersKeepTheirPlaceAsMoreAreAdded) {
    Json document = Json::Object();
    Json& first = document["first"] = Json::Array{};
    for (int k = 0; k < 100; ++k) {
        document["m" + std::to_string(k)] = k;
        first.Add(k);
    }
    document["first"].Add("end");
    const std::string text = document.Text();
    EXPECT_TRUE(text.starts_with("{\"first\":[0,1,2,")) << text;
    EXPECT_NE(text.find(",98,99,\"end\"],\"m0\":0,"), std::string::npos);
}

TEST(PointsFile, ReadsTheLinesAndSaysWhereItIsWrong) {
    const auto parsed = ParsePoints("\xEF\xBB\xBF# header\r\n  12000 ; -20,15 \r\n\r\n"
                                    "21500;21.5\n30000;8e1\n\t45000;150.25");
    ASSERT_TRUE(std::holds_alternative<std::vector<CalibrationPoint>>(parsed));
    const auto& points = std::get<std::vector<CalibrationPoint>>(parsed);
    ASSERT_EQ(points.size(), 4u);
    EXPECT_EQ(points[0].Raw, 12000);
    EXPECT_EQ(points[0].TrueTemp, -20.15f);
    EXPECT_EQ(points[1].TrueTemp, 21.5f);
    EXPECT_EQ(points[2].TrueTemp, 80.0f);
    EXPECT_EQ(points[3].Raw, 45000);

    std::string thirty;
    for (int k = 0; k < 30; ++k) {
        thirty += std::to_string(k) + ";" + std::to_string(k) + "\n";
    }
    const std::pair<std::string, std::string> wrong[] = {
        {"1;1\n2;2\n3;3\n", "3 points; a fit takes 4 to 29"},
        {thirty, "30 points; a fit takes 4 to 29"},
        {"1;1\n2;2\n3;3\n100000;4\n", "line 4: the raw reading '100000' is no whole number"},
        {"1;1\n2;2\n3;3\n1.5;4\n", "line 4: the raw reading '1.5'"},
        {"1;1\n2;2\n3;3\n4;1,5.0\n", "line 4: the temperature '1,5.0' is no number"},
        {"1;1\n2;2\n3;3\n4;1e39\n", "line 4: the temperature '1e39' is no number"},
        {"1;1\n\n# x\n2 2\n", "line 4: expected a raw reading and a temperature"},
        {"1;1\n2;\n", "line 2: the temperature '' is no number"},
    };
    for (const auto& [text, error] : wrong) {
        const auto result = ParsePoints(text);
        ASSERT_TRUE(std::holds_alternative<std::string>(result)) << text;
        EXPECT_TRUE(std::get<std::string>(result).starts_with(error))
            << std::get<std::string>(result);
    }
    thirty.erase(thirty.rfind("29;"));
    EXPECT_TRUE(std::holds_alternative<std::vector<CalibrationPoint>>(ParsePoints(thirty)));
}

// What bash offers after each command and a dash, against the commands'
// own table, so that the completion cannot drift from the program.
std::set<std::string> Completions(const std::string& words) {
    const std::string script = "source '" ZORM_CLI_COMPLETION "'; COMP_WORDS=(zorm5816-cli " +
                               words + "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); " +
                               "_zorm5816_cli; printf '%s\\n' \"${COMPREPLY[@]}\"";
    std::set<std::string> offered;
    FILE* pipe = ::popen(("bash -s <<'EOF'\n" + script + "\nEOF\n").c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    char line[256];
    while (pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string word = line;
        word.erase(word.find_last_not_of('\n') + 1);
        if (!word.empty()) {
            offered.insert(word);
        }
    }
    EXPECT_EQ(pipe == nullptr ? -1 : ::pclose(pipe), 0);
    return offered;
}

TEST(BashCompletion, OffersTheOptionsAndCommandsOfTheProgram) {
    std::set<std::string> names;
    for (const CommandSpec& command : Commands()) {
        std::set<std::string> options{"--data-dir", "--json", "--help"};
        for (const OptionSpec& option : command.Options) {
            options.insert(std::string(option.Name));
        }
        EXPECT_EQ(Completions(std::string(command.Name) + " --"), options) << command.Name;
        names.insert(std::string(command.Name.substr(0, command.Name.find(' '))));
    }
    EXPECT_EQ(Completions("''"), names);
    EXPECT_EQ(Completions("register read ''"),
              (std::set<std::string>{"status", "data", "mode", "filter", "offset", "gain"}));
    EXPECT_EQ(Completions("register write ''"),
              (std::set<std::string>{"mode", "filter", "offset", "gain"}));
}

} // namespace
} // namespace zorm::cli
