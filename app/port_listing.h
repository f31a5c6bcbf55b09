// The text of --list-ports.
#pragma once

#include "link/port_names.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace zorm {

// Every number in `table` with what it opens and what the system knows of the
// device, the devices without a number, the problems with Porty.txt, and the
// port where the search starts: `portNumber` as stored in Parametry.par, none
// when that file could not be read (the search then starts at port 1).
std::string PortListing(const PortTable& table, std::optional<std::uint8_t> portNumber,
                        const std::filesystem::path& dataFolder);

} // namespace zorm
