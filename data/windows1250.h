// The export text is written in the Windows-1250 code page, which is what the
// converter's users open it with; our sources and strings are UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace zorm {

// The byte written for a character that Windows-1250 cannot show, and for each
// byte of a broken UTF-8 sequence.
inline constexpr char Windows1250Unmappable = '?';

// Converts UTF-8 text to Windows-1250 bytes, one byte per character.
std::string ToWindows1250(std::string_view utf8);

} // namespace zorm
