// The service contact that the information window shows. The deployer puts it
// beside Parametry.par as a small UTF-8 text file of `key=value` lines:
//
//   ; the service contact shown by "Info"
//   Name=firm and contact person
//   Street=street and house number
//   Town=postal code and town
//   Phone=telephone number
//   Email=e-mail address
//   Internet=web address
//
// Keys are matched without regard to case; blanks around keys and values are
// dropped; blank lines, lines starting with ';' or '#', section lines such as
// "[Kontakt]", lines without '=' and unknown keys are skipped; a key given
// twice keeps its last value. Line ends may be LF or CR LF, and a leading
// UTF-8 byte order mark is skipped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zorm {

inline constexpr const char* ContactFileName = "Kontakt.ini";
// Only this much of the file is read; a contact needs far less.
inline constexpr std::size_t ContactFileLimit = 64 * 1024;

// Each field is empty when the file does not give it.
struct ServiceContact {
    std::string Name;
    std::string Street;
    std::string Town;
    std::string Phone;
    std::string Email;
    std::string Internet;

    bool operator==(const ServiceContact&) const = default;
};

ServiceContact ParseContact(std::string_view text);

// Reads ContactFileName from the working directory. A missing or unreadable
// file gives a contact with every field empty.
ServiceContact LoadContact();

} // namespace zorm
