#include "data/hex_byte.h"

#include <optional>

namespace zorm {

namespace {

std::optional<std::uint8_t> DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<std::uint8_t>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<std::uint8_t>(c - 'A' + 10);
    }
    return std::nullopt;
}

} // namespace

std::uint8_t ParseHexByte(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    const std::optional<std::uint8_t> high = DigitValue(text[0]);
    if (!high) {
        return 0;
    }
    const std::optional<std::uint8_t> low =
        text.size() > 1 ? DigitValue(text[1]) : std::optional<std::uint8_t>();
    return static_cast<std::uint8_t>(*high * 16 + low.value_or(0));
}

std::string HexByteText(std::uint8_t value) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    return {Digits[value >> 4], Digits[value & 0x0F]};
}

} // namespace zorm
