#include "Core/Search/SharedCutoff.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <thread>
#include <vector>

namespace pallix::testing {
namespace {

// The keep-th lowest of the counted ranks, or kNoRankCeiling when fewer are counted.
Rank keepThLowest(std::vector<Rank> ranks, std::size_t keep)
{
    std::erase_if(ranks, [](Rank r) { return r >= Rank(SharedCutoff::kCountedRanks); });
    if (ranks.size() < keep)
        return kNoRankCeiling;
    std::nth_element(ranks.begin(), ranks.begin() + std::ptrdiff_t(keep - 1), ranks.end());
    return ranks[keep - 1];
}

std::vector<Rank> randomRanks(std::mt19937& rng, std::size_t count)
{
    std::vector<Rank> ranks(count);
    for (Rank& r : ranks)
        // Mostly low, some past the counted ones, many equal.
        r = rng() % 10 == 0 ? Rank(SharedCutoff::kCountedRanks + rng() % 50) : Rank(rng() % 600);
    return ranks;
}

TEST(SharedCutoff, BatchesFromManySlicesGiveTheCutoffOfAllTheirRanks)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 60; ++round) {
        const std::size_t keep = 1 + rng() % 300;
        const std::vector<Rank> ranks = randomRanks(rng, rng() % 2000);
        SharedCutoff shared(keep);
        // Batches of random sizes, in order; after each, the cutoff is that of
        // every rank handed over so far that was not already above it.
        std::vector<Rank> seen;
        for (std::size_t at = 0; at < ranks.size();) {
            const std::size_t batch = std::min<std::size_t>(1 + rng() % 130, ranks.size() - at);
            const std::vector<Rank> part(ranks.begin() + std::ptrdiff_t(at), ranks.begin() + std::ptrdiff_t(at + batch));
            seen.insert(seen.end(), part.begin(), part.end());
            const Rank cutoff = shared.add(part);
            ASSERT_EQ(cutoff, keepThLowest(seen, keep)) << "keep " << keep << " after " << seen.size();
            ASSERT_EQ(shared.cutoff(), cutoff);
            at += batch;
        }
    }
}

TEST(SharedCutoff, ThreadsHandingRanksOverNeverCutBelowTheTrueCutoff)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 20; ++round) {
        const std::size_t keep = 1 + rng() % 500;
        const unsigned threads = 2 + rng() % 5;
        std::vector<std::vector<Rank>> parts;
        std::vector<Rank> all;
        for (unsigned t = 0; t < threads; ++t) {
            parts.push_back(randomRanks(rng, 3000));
            all.insert(all.end(), parts.back().begin(), parts.back().end());
        }
        const Rank truth = keepThLowest(all, keep);
        SharedCutoff shared(keep);
        std::vector<Rank> lowest(threads, kNoRankCeiling);
        std::vector<std::thread> workers;
        for (unsigned t = 0; t < threads; ++t)
            workers.emplace_back([&, t] {
                for (std::size_t at = 0; at < parts[t].size(); at += 64) {
                    const std::size_t n = std::min<std::size_t>(64, parts[t].size() - at);
                    lowest[t] = std::min(lowest[t], shared.add(std::span<const Rank>(parts[t]).subspan(at, n)));
                }
            });
        for (std::thread& w : workers)
            w.join();
        // Dropping above a cutoff lower than the true one would lose a result.
        for (Rank seen : lowest)
            EXPECT_GE(seen, truth);
        // The last to hand ranks over saw every count.
        EXPECT_EQ(shared.cutoff(), truth);
    }
}

} // namespace
} // namespace pallix::testing
