// The one argument of the benchmarks that take "--runs N".
#pragma once

#include <charconv>
#include <optional>
#include <string_view>

namespace zorm::bench {

// The runs of "PROGRAM [--runs N]": `fallback` without arguments, N for a
// whole number of at least 1, nothing for anything else (wrong usage).
inline std::optional<int> RunsArgument(int argc, char** argv, int fallback) {
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
