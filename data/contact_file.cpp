#include "data/contact_file.h"

#include "data/key_value_lines.h"

#include <array>
#include <utility>

namespace zorm {

ServiceContact ParseContact(std::string_view text) {
    ServiceContact contact;
    const std::array<std::pair<std::string_view, std::string*>, 6> fields = {{
        {"Name", &contact.Name},
        {"Street", &contact.Street},
        {"Town", &contact.Town},
        {"Phone", &contact.Phone},
        {"Email", &contact.Email},
        {"Internet", &contact.Internet},
    }};
    for (const KeyValue& line : KeyValueLines(text)) {
        for (const auto& [name, field] : fields) {
            if (SameKey(line.Key, name)) {
                *field = line.Value;
            }
        }
    }
    return contact;
}

ServiceContact LoadContact() {
    return ParseContact(ReadFileStart(ContactFileName, ContactFileLimit));
}

} // namespace zorm
