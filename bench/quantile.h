// The quantiles the benchmarks print.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace zorm::bench {

// The q-quantile of sorted values by the nearest rank.
inline double Quantile(const std::vector<double>& sorted, double q) {
    const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

} // namespace zorm::bench
