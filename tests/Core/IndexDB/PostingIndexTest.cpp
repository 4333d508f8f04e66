#include "Core/IndexDB/PostingIndex.h"

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include <gtest/gtest.h>

namespace pallix {
namespace {

constexpr std::uint32_t kBlock = 1u << PostingIndex::kChunkBits;

// Builds an index from key -> positions the way the index build does: block
// by block, positions ascending.
PostingIndex buildIndex(const std::map<std::string, std::set<std::uint32_t>>& lists)
{
    std::uint32_t maxPosition = 0;
    for (const auto& [key, positions] : lists)
        if (!positions.empty())
            maxPosition = std::max(maxPosition, *positions.rbegin());
    PostingIndex::Assembler assembler;
    for (std::uint32_t b = 0; b <= maxPosition / kBlock; ++b) {
        PostingIndex::BlockBuilder block(b);
        for (std::uint32_t p = b * kBlock; p < (b + 1) * kBlock && p <= maxPosition; ++p)
            for (const auto& [key, positions] : lists)
                if (positions.contains(p)) {
                    block.add(key, p);
                    block.add(key, p);  // a second form giving the same key
                }
        assembler.addBlock(std::move(block));
    }
    return assembler.finish();
}

TEST(PostingIndex, KeepsEveryPositionOfSparseAndDenseKeys)
{
    std::mt19937 rng(7);
    std::map<std::string, std::set<std::uint32_t>> lists;
    const std::uint32_t n = 3 * kBlock + 100;
    for (std::uint32_t p = 0; p < n; ++p) {
        if (rng() % 2 == 0)
            lists["dense"].insert(p);   // bitmaps: far more than 4,096 per chunk
        if (rng() % 50 == 0)
            lists["sparse"].insert(p);  // arrays
    }
    lists["edges"] = {0, kBlock - 1, kBlock, 2 * kBlock, n - 1};
    lists["计划"] = {5, 70000};
    const PostingIndex index = buildIndex(lists);

    EXPECT_EQ(index.keyCount(), lists.size());
    for (const auto& [key, positions] : lists) {
        SCOPED_TRACE(key);
        std::optional<PostingIndex::Postings> found = index.find(key);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->size(), positions.size());
        std::vector<std::uint32_t> decoded;
        found->appendTo(decoded);
        EXPECT_EQ(decoded, std::vector<std::uint32_t>(positions.begin(), positions.end()));
    }
    EXPECT_FALSE(index.find("absent"));
    EXPECT_FALSE(index.find(""));
    EXPECT_LT(index.memoryUsage(), lists["dense"].size() * 4 / 2) << "dense keys must not cost 4 bytes a position";
}

TEST(PostingIndex, RetainPresentIntersectsInOrder)
{
    std::mt19937 rng(11);
    std::map<std::string, std::set<std::uint32_t>> lists;
    // Bitmap chunks ("a", "b"), array chunks ("c", and "d" in runs that
    // leave its first part out), over parts the others lack ("e").
    for (std::uint32_t p = 0; p < 4 * kBlock + 500; ++p) {
        if (rng() % 3 == 0)
            lists["a"].insert(p);
        if (rng() % 7 == 0)
            lists["b"].insert(p);
        if (rng() % 40 == 0)
            lists["c"].insert(p);
        if (p >= kBlock && (p / 97) % 5 == 0 && rng() % 8 == 0)
            lists["d"].insert(p);
        if (p >= 3 * kBlock && p % 23 == 0)
            lists["e"].insert(p);
    }
    const PostingIndex index = buildIndex(lists);
    for (const auto& [first, firstList] : lists)
        for (const auto& [second, secondList] : lists) {
            SCOPED_TRACE(first + " then " + second);
            std::vector<std::uint32_t> running;
            index.find(first)->appendTo(running);
            index.find(second)->retainPresent(running);
            std::vector<std::uint32_t> expected;
            std::set_intersection(firstList.begin(), firstList.end(), secondList.begin(), secondList.end(),
                                  std::back_inserter(expected));
            EXPECT_EQ(running, expected);
        }
    // Values beyond every chunk of the key, or in chunks it lacks, go.
    std::vector<std::uint32_t> probe{1, kBlock + 1, 5 * kBlock};
    PostingIndex::Assembler only;
    PostingIndex::BlockBuilder b0(0);
    b0.add("k", 1);
    only.addBlock(std::move(b0));
    PostingIndex small = only.finish();
    small.find("k")->retainPresent(probe);
    EXPECT_EQ(probe, std::vector<std::uint32_t>{1});
}

TEST(PostingIndex, EmptyIndexFindsNothing)
{
    PostingIndex empty;
    EXPECT_TRUE(empty.empty());
    EXPECT_FALSE(empty.find("a"));
    PostingIndex::Assembler none;
    EXPECT_TRUE(none.finish().empty());
}

TEST(KeyInterner, EqualKeysShareAnIdAcrossGrowth)
{
    KeyInterner keys;
    std::vector<std::uint32_t> ids;
    for (int i = 0; i < 5000; ++i)
        ids.push_back(keys.intern("key" + std::to_string(i)));
    for (int i = 0; i < 5000; ++i) {
        ASSERT_EQ(keys.intern("key" + std::to_string(i)), ids[i]);
        ASSERT_EQ(keys.key(ids[i]), "key" + std::to_string(i));
    }
    EXPECT_EQ(keys.size(), 5000u);
    EXPECT_FALSE(keys.find("key5000"));
}

} // namespace
} // namespace pallix
