#include "data/hex_byte.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace zorm {
namespace {

// The digits in order; anything not in here is no digit.
constexpr std::string_view Digits = "0123456789ABCDEF";

TEST(ParseHexByte, TakesTheExamplesOfTheRegisterWindow) {
    const struct {
        const char* text;
        int value;
    } examples[] = {
        {"7F", 127}, {"FF", 255},  {"0", 0},  {"7", 112}, {"7f", 112},
        {"f0", 0},   {"1234", 18}, {"G1", 0}, {"A", 160}, {"ff", 0},
    };
    for (const auto& example : examples) {
        EXPECT_EQ(ParseHexByte(example.text), example.value) << example.text;
    }
    EXPECT_EQ(ParseHexByte(""), 0);
}

TEST(ParseHexByte, FirstCharacterIsTheHighDigitOrMakesTheValueZero) {
    for (int c = 0; c < 256; ++c) {
        const char first = static_cast<char>(c);
        const std::size_t digit = Digits.find(first);
        SCOPED_TRACE(c);
        if (digit == std::string_view::npos) {
            // Whatever follows, even a good low digit.
            EXPECT_EQ(ParseHexByte(std::string{first}), 0);
            EXPECT_EQ(ParseHexByte(std::string{first, '5'}), 0);
            EXPECT_EQ(ParseHexByte(std::string{first, 'F', 'F'}), 0);
        } else {
            EXPECT_EQ(ParseHexByte(std::string{first}), digit * 16);
            EXPECT_EQ(ParseHexByte(std::string{first, '5'}), digit * 16 + 5);
        }
    }
}

TEST(ParseHexByte, SecondCharacterIsTheLowDigitOrCountsAsZero) {
    for (int c = 0; c < 256; ++c) {
        const char second = static_cast<char>(c);
        const std::size_t digit = Digits.find(second);
        const unsigned low = digit == std::string_view::npos ? 0 : static_cast<unsigned>(digit);
        SCOPED_TRACE(c);
        EXPECT_EQ(ParseHexByte(std::string{'3', second}), 0x30 + low);
        EXPECT_EQ(ParseHexByte(std::string{'C', second, '9'}), 0xC0 + low);
    }
}

TEST(ParseHexByte, IgnoresEverythingAfterTheSecondCharacter) {
    for (const char* tail : {"0", "F", "FFFF", " ", "x", "\n", "\xC3\xA1"}) {
        EXPECT_EQ(ParseHexByte(std::string("7F") + tail), 127) << tail;
        EXPECT_EQ(ParseHexByte(std::string("12") + tail), 18) << tail;
    }
    // Nothing is trimmed: a leading blank is a wrong first character.
    EXPECT_EQ(ParseHexByte(" 7F"), 0);
    EXPECT_EQ(ParseHexByte("7 F"), 112);
}

TEST(HexByteText, WritesTwoUpperCaseDigitsThatReadBack) {
    EXPECT_EQ(HexByteText(0x00), "00");
    EXPECT_EQ(HexByteText(0x05), "05");
    EXPECT_EQ(HexByteText(0x0A), "0A");
    EXPECT_EQ(HexByteText(0xAB), "AB");
    EXPECT_EQ(HexByteText(0xFF), "FF");
    for (int value = 0; value < 256; ++value) {
        const std::string text = HexByteText(static_cast<std::uint8_t>(value));
        ASSERT_EQ(text.size(), 2u) << value;
        EXPECT_EQ(ParseHexByte(text), value) << text;
    }
}

} // namespace
} // namespace zorm
