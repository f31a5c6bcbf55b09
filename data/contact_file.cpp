#include "data/contact_file.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <utility>

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

bool SameKey(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

} // namespace

ServiceContact ParseContact(std::string_view text) {
    constexpr std::string_view Bom = "\xEF\xBB\xBF";
    if (text.starts_with(Bom)) {
        text.remove_prefix(Bom.size());
    }

    ServiceContact contact;
    const std::array<std::pair<std::string_view, std::string*>, 6> fields = {{
        {"Name", &contact.Name},
        {"Street", &contact.Street},
        {"Town", &contact.Town},
        {"Phone", &contact.Phone},
        {"Email", &contact.Email},
        {"Internet", &contact.Internet},
    }};
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));

        const std::size_t equals = line.find('=');
        if (line.starts_with(';') || line.starts_with('#') || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = Trimmed(line.substr(0, equals));
        for (const auto& [name, field] : fields) {
            if (SameKey(key, name)) {
                *field = Trimmed(line.substr(equals + 1));
            }
        }
    }
    return contact;
}

ServiceContact LoadContact() {
    std::ifstream file(ContactFileName, std::ios::binary);
    std::string text(ContactFileLimit, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    return ParseContact(text);
}

} // namespace zorm
