// The search for the converter over the port numbers, as the program runs it
// at start: from the stored PortNumber downwards, wrapping from port 1 to
// port 29, 29 ports in all, each asked for its identification at the address
// DeviceAddress holds. The window program and zorm5816-cli both search this
// way; what they tell the operator is their own business.
#pragma once

#include "link/drv232.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace zorm {

// The search tries this many ports, and wraps from port 1 to this one.
inline constexpr int PortsSearched = 29;

// The port a search from the stored `portNumber` starts at: that port, or 29
// for 0 or a number beyond the searched ones, so that every port is tried.
std::uint8_t SearchStart(std::uint8_t portNumber);

struct FoundConverter {
    std::uint8_t Port = 0;
    // The identification text (at most 9 characters), never "CHYBA".
    std::string DeviceType;
};

// Opens the ports one after another from SearchStart(portNumber) downwards
// until one answers the identification with anything but "CHYBA"; that port
// stays open in `link`. A port that opens but answers "CHYBA" is closed again
// and `answeredWrongly` (when given) is called; a port that cannot be opened
// or configured is passed over. Nothing when no port answered.
std::optional<FoundConverter> SearchConverter(Drv232& link, std::uint8_t portNumber,
                                              const std::function<void()>& answeredWrongly = {});

} // namespace zorm
