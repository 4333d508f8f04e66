#include "Core/Search/SharedCutoff.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <thread>
#include <vector>

namespace pallix::testing {
namespace {

TEST(SharedCutoff, ThreadsHandingRanksOverGetTheCutoffOfAllTheirRanksAndNeverLess)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 30; ++round) {
        const std::size_t keep = 1 + rng() % 500;
        const unsigned threads = 1 + rng() % 6;
        // Mostly low ranks, many equal, some past the counted ones.
        std::vector<std::vector<Rank>> parts(threads, std::vector<Rank>(rng() % 3000));
        std::vector<Rank> counted;
        for (std::vector<Rank>& part : parts)
            for (Rank& r : part) {
                r = rng() % 10 == 0 ? Rank(SharedCutoff::kCountedRanks + rng() % 50) : Rank(rng() % 600);
                if (r < Rank(SharedCutoff::kCountedRanks))
                    counted.push_back(r);
            }
        std::sort(counted.begin(), counted.end());
        const Rank truth = counted.size() < keep ? kNoRankCeiling : counted[keep - 1];
        SharedCutoff shared(keep);
        std::vector<Rank> lowest(threads, kNoRankCeiling);
        std::vector<std::thread> workers;
        for (unsigned t = 0; t < threads; ++t)
            workers.emplace_back([&, t] {
                for (std::size_t at = 0; at < parts[t].size(); at += 1 + at % 97) {
                    const std::size_t n = std::min<std::size_t>(1 + at % 97, parts[t].size() - at);
                    lowest[t] = std::min(lowest[t], shared.add(std::span<const Rank>(parts[t]).subspan(at, n)));
                }
            });
        for (std::thread& w : workers)
            w.join();
        SCOPED_TRACE("keep " + std::to_string(keep) + ", " + std::to_string(threads) + " threads");
        // Below the true cutoff a result would be lost.
        for (Rank seen : lowest)
            EXPECT_GE(seen, truth);
        // The last to hand ranks over saw every count.
        EXPECT_EQ(shared.cutoff(), truth);
    }
}

} // namespace
} // namespace pallix::testing
