#include "records/database_url.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace zorm {

namespace {

using Parsed = std::variant<DatabaseUrl, std::string>;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// Undoes the %XX escapes; nothing for a broken escape or a control character.
std::optional<std::string> Unescaped(std::string_view text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            const int high = i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
            const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            c = static_cast<char>(high * 16 + low);
            i += 2;
        }
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return std::nullopt;
        }
        plain.push_back(c);
    }
    return plain;
}

bool PlainCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' ||
           c == '~';
}

std::string Escaped(std::string_view text) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string escaped;
    for (const char c : text) {
        if (PlainCharacter(c)) {
            escaped.push_back(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            escaped += {'%', Hex[byte >> 4], Hex[byte & 15]};
        }
    }
    return escaped;
}

std::string Refused(std::string_view text, std::string_view why) {
    return "Adresa sdílené databáze \"" + std::string(text) +
           "\" není platná: " + std::string(why) +
           ". Očekává se postgresql://UŽIVATEL@POČÍTAČ[:PORT]/DATABÁZE.";
}

} // namespace

std::string DatabaseUrl::Text() const {
    std::string host = Escaped(Host);
    if (Host.find(':') != std::string::npos && !Host.starts_with('/')) {
        host = "[" + Host + "]"; // an IPv6 address
    }
    return "postgresql://" + Escaped(User) + "@" + host +
           (Port ? ":" + std::to_string(*Port) : std::string()) + "/" + Escaped(Database);
}

Parsed ParseDatabaseUrl(std::string_view text) {
    std::string_view rest = text;
    bool schemeFound = false;
    for (const std::string_view scheme : {"postgresql://", "postgres://"}) {
        if (rest.starts_with(scheme)) {
            rest.remove_prefix(scheme.size());
            schemeFound = true;
            break;
        }
    }
    if (!schemeFound) {
        return Refused(text, "musí začínat postgresql://");
    }
    if (rest.find_first_of("?#") != std::string_view::npos) {
        return Refused(text, "parametry za ? ani # nejsou dovoleny");
    }
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) {
        return Refused(text, "chybí jméno databáze za lomítkem");
    }
    const std::string_view authority = rest.substr(0, slash);
    const std::string_view database = rest.substr(slash + 1);
    const std::size_t at = authority.rfind('@');
    if (at == std::string_view::npos) {
        return Refused(text, "chybí uživatel před @");
    }
    const std::string_view user = authority.substr(0, at);
    if (const std::size_t colon = user.find(':'); colon != std::string_view::npos) {
        // The message goes to the screen and to standard error: the password
        // must not.
        std::string shown(text);
        shown.replace(text.size() - rest.size() + colon + 1, at - colon - 1, "****");
        return Refused(shown, "heslo do adresy nepatří, zadejte ho v souboru ~/.pgpass nebo v "
                              "proměnné prostředí PGPASSWORD");
    }
    std::string_view host = authority.substr(at + 1);
    std::string_view port;
    if (host.starts_with('[')) {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos) {
            return Refused(text, "chybí ] za adresou IPv6");
        }
        port = host.substr(close + 1);
        host = host.substr(1, close - 1);
        if (!port.empty() && !port.starts_with(':')) {
            return Refused(text, "za ] smí následovat jen :PORT");
        }
    } else if (const std::size_t colon = host.find(':'); colon != std::string_view::npos) {
        port = host.substr(colon);
        host = host.substr(0, colon);
    }

    DatabaseUrl url;
    const auto plainUser = Unescaped(user);
    const auto plainHost = Unescaped(host);
    const auto plainDatabase = Unescaped(database);
    if (!plainUser || !plainHost || !plainDatabase) {
        return Refused(text, "obsahuje chybnou sekvenci %XX nebo řídicí znak");
    }
    url.User = *plainUser;
    url.Host = *plainHost;
    url.Database = *plainDatabase;
    if (url.User.empty()) {
        return Refused(text, "chybí uživatel před @");
    }
    if (url.Host.empty()) {
        return Refused(text, "chybí počítač za @");
    }
    if (url.Database.empty() || url.Database.find('/') != std::string::npos) {
        return Refused(text, "chybí jméno databáze za lomítkem, nebo obsahuje další lomítko");
    }
    if (!port.empty()) {
        port.remove_prefix(1);
        int number = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
        if (port.empty() || error != std::errc() || end != port.data() + port.size() ||
            number < 1 || number > 65535) {
            return Refused(text, "port musí být číslo 1 až 65535");
        }
        url.Port = number;
    }
    return url;
}

} // namespace zorm
