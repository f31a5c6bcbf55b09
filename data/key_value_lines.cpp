#include "data/key_value_lines.h"

#include <algorithm>
#include <cctype>
#include <fstream>

namespace zorm {

namespace {

std::string_view Trimmed(std::string_view text) {
    constexpr std::string_view Blanks = " \t\r";
    const std::size_t first = text.find_first_not_of(Blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(Blanks) - first + 1);
}

} // namespace

std::vector<KeyValue> KeyValueLines(std::string_view text) {
    constexpr std::string_view Bom = "\xEF\xBB\xBF";
    if (text.starts_with(Bom)) {
        text.remove_prefix(Bom.size());
    }
    std::vector<KeyValue> lines;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));

        const std::size_t equals = line.find('=');
        if (line.starts_with(';') || line.starts_with('#') || equals == std::string_view::npos) {
            continue;
        }
        lines.push_back({Trimmed(line.substr(0, equals)), Trimmed(line.substr(equals + 1))});
    }
    return lines;
}

bool SameKey(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::string ReadFileStart(const char* name, std::size_t limit) {
    std::ifstream file(name, std::ios::binary);
    std::string text(limit, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    return text;
}

} // namespace zorm
