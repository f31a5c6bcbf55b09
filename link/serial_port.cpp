#include "link/serial_port.h"

#include <cstdint>

namespace zorm {

LineFormat LineFormatFor(std::uint8_t baudSelect) {
    if (baudSelect == 1) {
        return LineFormat{9600, Parity::None};
    }
    return LineFormat{115200, Parity::Even};
}

std::optional<std::chrono::nanoseconds> TotalTimeout(std::uint32_t constantMs,
                                                     std::uint32_t perByteMs, std::size_t count) {
    using std::chrono::nanoseconds;
    if (constantMs == 0 && perByteMs == 0) {
        return std::nullopt;
    }
    constexpr std::uint64_t NsPerMs = 1'000'000;
    constexpr std::uint64_t MaxMs = nanoseconds::max().count() / NsPerMs;
    std::uint64_t ms = constantMs; // far below MaxMs
    if (perByteMs != 0) {
        if (count > (MaxMs - ms) / perByteMs) {
            return nanoseconds::max();
        }
        ms += std::uint64_t{perByteMs} * count;
    }
    return nanoseconds{static_cast<nanoseconds::rep>(ms * NsPerMs)};
}

} // namespace zorm
