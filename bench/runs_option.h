// The command line of the benchmarks that repeat one computation:
// "PROGRAM [--runs N]".
#pragma once

#include <charconv>
#include <optional>
#include <string_view>

namespace zorm::bench {

// N of "--runs N" (at least 1), `fallback` without arguments, and nothing for
// any other command line.
inline std::optional<int> RunsOption(int argc, char** argv, int fallback) {
    if (argc == 1) {
        return fallback;
    }
    if (argc != 3 || std::string_view(argv[1]) != "--runs") {
        return std::nullopt;
    }
    const std::string_view value = argv[2];
    int runs = 0;
    const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), runs);
    if (ec != std::errc{} || ptr != value.data() + value.size() || runs < 1) {
        return std::nullopt;
    }
    return runs;
}

} // namespace zorm::bench
