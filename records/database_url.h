// The address of a plant's shared record database:
//
//   postgresql://USER@HOST[:PORT]/DB
//
// HOST is a host name, an IPv4 address, an IPv6 address in brackets, or a
// folder of the server's Unix socket written with %2F for each '/'
// ("postgresql://zorm@%2Fvar%2Frun%2Fpostgresql/kalibrace"), as libpq writes
// it. Any part may carry %XX escapes. "postgres://" is taken as well. A
// password never goes into the address, where it would end up in files and
// process lists: libpq takes it from ~/.pgpass or PGPASSWORD.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace zorm {

struct DatabaseUrl {
    std::string User;
    std::string Host;
    std::optional<int> Port;
    std::string Database;

    // The address again, in the canonical form (postgresql://, escapes
    // where needed).
    std::string Text() const;

    bool operator==(const DatabaseUrl&) const = default;
};

// The address, or the reason it is refused (Czech, for the operator).
std::variant<DatabaseUrl, std::string> ParseDatabaseUrl(std::string_view text);

} // namespace zorm
