// The `key=value` lines of the program's small text files in the data folder
// (Kontakt.ini, Stanice.ini): UTF-8, keys matched without regard to case,
// blanks around keys and values dropped; blank lines, lines starting with ';'
// or '#', section lines such as "[Kontakt]" and lines without '=' skipped.
// Line ends may be LF or CR LF, and a leading UTF-8 byte order mark is
// skipped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zorm {

struct KeyValue {
    std::string_view Key;
    std::string_view Value;
};

// The lines in file order (a key given twice appears twice).
std::vector<KeyValue> KeyValueLines(std::string_view text);

// Keys compare without regard to the case of ASCII letters.
bool SameKey(std::string_view a, std::string_view b);

// The first `limit` bytes of the file `name`; empty when it cannot be read.
std::string ReadFileStart(const char* name, std::size_t limit);

} // namespace zorm
