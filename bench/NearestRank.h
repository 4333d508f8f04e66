#pragma once
// The nearest-rank percentile (p in 0..100) of the benches that run the
// application model: the smallest value with at least p % of the values at
// or below it; 0 for no values.

#include <algorithm>
#include <cmath>
#include <vector>

namespace pallix::bench {

inline double nearestRankPercentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::max(1.0, std::ceil(p / 100.0 * double(values.size()))));
    return values[std::min(rank, values.size()) - 1];
}

} // namespace pallix::bench
