// Register bytes as the register window reads and shows them: two hexadecimal
// digits, upper case.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zorm {

// The value of a two-digit hexadecimal text. Only "0".."9" and "A".."F" are
// digits. The first character is the high digit, and any other first
// character makes the whole value 0; the second character is the low digit,
// and any other second character (or none) counts as 0. Characters after the
// second are ignored: "7F" 127, "7" 112, "7f" 112, "f0" 0, "1234" 18. An empty
// text is 0.
std::uint8_t ParseHexByte(std::string_view text);

// Exactly two upper-case hexadecimal digits: 10 gives "0A", 255 "FF".
std::string HexByteText(std::uint8_t value);

} // namespace zorm
