#include "Core/IndexDB/SearchIndexBuild.h"

#include <atomic>

#include <gtest/gtest.h>

#include "Core/IndexDB/SearchKeys.h"

namespace pallix {
namespace {

std::vector<std::uint32_t> positionsOf(const PostingIndex& index, std::string_view key)
{
    std::vector<std::uint32_t> out;
    if (std::optional<PostingIndex::Postings> p = index.find(key))
        p->appendTo(out);
    return out;
}

TEST(SearchIndexBuild, KeysComeFromBothStemsOnce)
{
    StemList stems;
    stems.append("report 2024", "report2024");   // same keys twice: each position once
    stems.append("café", "cafe");                 // the plain and the folded spelling
    stems.append("--", "");                       // no keys at all
    stems.append("项目计划书", "项目计划书");
    std::optional<SearchIndexes> built = buildSearchIndexes(stems, 1, nullptr);
    ASSERT_TRUE(built);

    EXPECT_EQ(positionsOf(built->characters, "r"), std::vector<std::uint32_t>{0});
    EXPECT_EQ(positionsOf(built->bigrams, "t2"), std::vector<std::uint32_t>{0});
    EXPECT_EQ(positionsOf(built->prefixes, "repo"), std::vector<std::uint32_t>{0});
    EXPECT_TRUE(positionsOf(built->prefixes, "repor").empty());
    EXPECT_EQ(positionsOf(built->bigrams, "fé"), std::vector<std::uint32_t>{1});
    EXPECT_EQ(positionsOf(built->bigrams, "fe"), std::vector<std::uint32_t>{1});
    EXPECT_EQ(positionsOf(built->prefixes, "cafe"), std::vector<std::uint32_t>{1});
    EXPECT_EQ(positionsOf(built->prefixes, "café"), std::vector<std::uint32_t>{1});
    EXPECT_EQ(positionsOf(built->prefixes, "项目计划"), std::vector<std::uint32_t>{3});
    EXPECT_TRUE(positionsOf(built->characters, "-").empty());
    EXPECT_TRUE(positionsOf(built->characters, ".").empty());
}

TEST(SearchIndexBuild, ThreadedBuildEqualsSingleThreaded)
{
    // Over three blocks of positions, so that several workers take part.
    StemList stems;
    const char* words[] = {"alpha", "beta", "gamma", "报告", "delta", "x"};
    for (int i = 0; i < 200000; ++i) {
        const std::string stem = std::string(words[i % 6]) + " " + std::to_string(i % 977);
        stems.append(stem, stem);
    }
    std::optional<SearchIndexes> one = buildSearchIndexes(stems, 1, nullptr);
    std::optional<SearchIndexes> four = buildSearchIndexes(stems, 4, [] { return true; });
    ASSERT_TRUE(one && four);
    for (const char* key : {"a", "报", "告", "9", "x"})
        EXPECT_EQ(positionsOf(four->characters, key), positionsOf(one->characters, key)) << key;
    for (const char* key : {"al", "报告", "a9", "x1"})
        EXPECT_EQ(positionsOf(four->bigrams, key), positionsOf(one->bigrams, key)) << key;
    for (const char* key : {"gamm", "报告1", "x", "x97"})
        EXPECT_EQ(positionsOf(four->prefixes, key), positionsOf(one->prefixes, key)) << key;
    EXPECT_EQ(positionsOf(one->prefixes, "x").size(), 200000u / 6);
    EXPECT_EQ(four->characters.keyCount(), one->characters.keyCount());
    EXPECT_EQ(four->bigrams.keyCount(), one->bigrams.keyCount());
    EXPECT_EQ(four->prefixes.keyCount(), one->prefixes.keyCount());
}

TEST(SearchIndexBuild, StopsWhenToldTo)
{
    StemList stems;
    for (int i = 0; i < 150000; ++i)
        stems.append("name", "name");
    for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(threads);
        std::atomic<int> polls{0};
        EXPECT_FALSE(buildSearchIndexes(stems, threads, [&] { return ++polls < 3; }));
        EXPECT_GE(polls.load(), 3);
    }
}

} // namespace
} // namespace pallix
