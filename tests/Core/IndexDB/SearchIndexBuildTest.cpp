#include "Core/IndexDB/SearchIndexBuild.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

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

TEST(SearchIndexBuild, KeysComeFromEveryNameFormOnce)
{
    NameList names;
    names.append("report 2024", "report2024");   // same keys twice: each position once
    names.append("café", "cafe");                 // the plain and the folded spelling
    names.append("--", "");                       // no keys at all
    names.append("项目计划书", "项目计划书");
    names.append("notes.pdf", "notespdf", "notes");  // the extension and across the dot
    names.append("x.y", "xy", "zw");                 // a stem that is no head of the name
    std::optional<SearchIndexes> built = buildSearchIndexes(names, 1, nullptr);
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
    EXPECT_EQ(positionsOf(built->bigrams, "df"), std::vector<std::uint32_t>{4});
    EXPECT_EQ(positionsOf(built->bigrams, "sp"), std::vector<std::uint32_t>{4});
    EXPECT_EQ(positionsOf(built->characters, "f"), (std::vector<std::uint32_t>{1, 4}));
    EXPECT_EQ(positionsOf(built->bigrams, "xy"), std::vector<std::uint32_t>{5});
    EXPECT_EQ(positionsOf(built->bigrams, "zw"), std::vector<std::uint32_t>{5});
    EXPECT_EQ(positionsOf(built->prefixes, "zw"), std::vector<std::uint32_t>{5});
}

TEST(SearchIndexBuild, ThreadedBuildEqualsSingleThreaded)
{
    // Over three blocks of positions, so that several workers take part.
    NameList names;
    const char* words[] = {"alpha", "beta", "gamma", "报告", "delta", "x"};
    for (int i = 0; i < 200000; ++i) {
        const std::string stem = std::string(words[i % 6]) + " " + std::to_string(i % 977);
        names.append(stem, stem);
    }
    std::optional<SearchIndexes> one = buildSearchIndexes(names, 1, nullptr);
    std::optional<SearchIndexes> four = buildSearchIndexes(names, 4, [] { return true; });
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

TEST(SearchIndexBuild, EachBlockAsksForItsOwnNamesOnceAndAFailedCopyStopsTheBuild)
{
    // Three blocks and a bit; the names come from the positions, never as a whole list.
    constexpr std::size_t kItems = 3 * 65536 + 500;
    auto nameOf = [](std::size_t p) { return "项目 r" + std::to_string(p % 1000) + (p % 7 == 0 ? " seven" : ""); };
    std::vector<std::uint32_t> sevens, with42;
    for (std::uint32_t p = 0; p < kItems; ++p) {
        if (p % 7 == 0)
            sevens.push_back(p);
        if (std::to_string(p % 1000).find("42") != std::string::npos)
            with42.push_back(p);
    }
    for (unsigned threads : {1u, 4u}) {
        SCOPED_TRACE(threads);
        std::mutex mutex;
        std::vector<std::pair<std::size_t, std::size_t>> asked;
        const std::optional<SearchIndexes> built = buildSearchIndexes(
            kItems,
            [&](std::size_t begin, std::size_t end, NameList& out) {
                {
                    std::lock_guard lock(mutex);
                    asked.emplace_back(begin, end);
                }
                for (std::size_t p = begin; p < end; ++p)
                    out.append(nameOf(p), nameOf(p));
                return true;
            },
            threads, nullptr);
        ASSERT_TRUE(built);
        std::sort(asked.begin(), asked.end());
        EXPECT_EQ(asked, (std::vector<std::pair<std::size_t, std::size_t>>{
                             {0, 65536}, {65536, 131072}, {131072, 196608}, {196608, kItems}}));
        EXPECT_EQ(positionsOf(built->characters, "项").size(), kItems);
        EXPECT_EQ(positionsOf(built->bigrams, "ev"), sevens);
        EXPECT_EQ(positionsOf(built->bigrams, "42"), with42);

        std::atomic<int> copies{0};
        EXPECT_FALSE(buildSearchIndexes(
            kItems,
            [&](std::size_t begin, std::size_t end, NameList& out) {
                if (++copies == 2)
                    return false;
                for (std::size_t p = begin; p < end; ++p)
                    out.append(nameOf(p), nameOf(p));
                return true;
            },
            threads, nullptr));
    }
}

TEST(SearchIndexBuild, StopsWhenToldTo)
{
    NameList names;
    for (int i = 0; i < 150000; ++i)
        names.append("name", "name");
    for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(threads);
        std::atomic<int> polls{0};
        EXPECT_FALSE(buildSearchIndexes(names, threads, [&] { return ++polls < 3; }));
        EXPECT_GE(polls.load(), 3);
    }
}

TEST(SearchIndexBuild, NameListGivesBackEveryFormAcrossItsChunks)
{
    // Some megabytes of forms, one larger than a chunk, empty ones between.
    NameList names;
    names.reserve(4, 10);
    const std::string huge(3 << 20, 'h');
    auto nameOf = [&](std::size_t i) { return i == 777 ? huge : "名" + std::to_string(i) + std::string(i % 50, 'n'); };
    auto normalizedOf = [&](std::size_t i) { return i % 4 == 0 ? nameOf(i) : "n" + std::to_string(i); };
    auto stemOf = [](std::size_t i) { return i % 5 == 0 ? "s" + std::to_string(i) : std::string(); };
    constexpr std::size_t kItems = 200000;
    for (std::size_t i = 0; i < kItems; ++i)
        names.append(nameOf(i), normalizedOf(i), stemOf(i));
    ASSERT_EQ(names.size(), kItems);
    for (std::size_t i = 0; i < kItems; ++i) {
        // Compared, not printed: one of them is megabytes long.
        ASSERT_TRUE(names.name(i) == nameOf(i)) << i;
        ASSERT_TRUE(names.normalizedName(i) == normalizedOf(i)) << i;
        ASSERT_TRUE(names.normalizedStem(i) == stemOf(i)) << i;
    }
}

// A keepGoing() that holds the first worker to ask at the start of its first
// block until the others have gone through `otherPolls` polls (16 a block):
// the blocks after the held one finish first unless it holds the last of the
// first round. With `heldStopsAt`, the held worker is told to stop at its
// poll of that number, 16 being the last of its block.
class HoldFirstWorker {
public:
    explicit HoldFirstWorker(int otherPolls, int heldStopsAt = 0)
        : m_otherPolls(otherPolls), m_heldStopsAt(heldStopsAt)
    {
    }
    bool operator()()
    {
        std::unique_lock lock(m_mutex);
        if (m_held == std::thread::id())
            m_held = std::this_thread::get_id();
        if (std::this_thread::get_id() != m_held) {
            ++m_otherPolled;
            m_changed.notify_all();
            return true;
        }
        m_changed.wait(lock, [&] { return m_otherPolled >= m_otherPolls; });
        return ++m_heldPolled != m_heldStopsAt;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread::id m_held;
    int m_otherPolled = 0;
    int m_heldPolled = 0;
    const int m_otherPolls;
    const int m_heldStopsAt;
};

TEST(SearchIndexBuild, FewWorkersBuildManyBlocksOutOfOrderOrStopMidway)
{
    // Ten blocks and a bit; each block's lists span several entry segments.
    constexpr std::uint32_t kItems = 10 * 65536 + 123;
    NameList names;
    std::vector<std::uint32_t> everyThird, pairQb, digits42;
    for (std::uint32_t i = 0; i < kItems; ++i) {
        const std::string name = "q" + std::string(1, char('a' + i % 3)) + std::to_string(i % 1000);
        names.append(name, name);
        if (i % 3 == 2)
            everyThird.push_back(i);
        if (i % 3 == 1)
            pairQb.push_back(i);
        if (name.find("42") != std::string::npos)
            digits42.push_back(i);
    }
    constexpr unsigned kWorkers = 4;
    // The other workers go through the rest of the first round of blocks; the
    // window lets none of them further while the held block is the first.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        HoldFirstWorker hold(16 * int(kWorkers - 1));
        std::optional<SearchIndexes> built = buildSearchIndexes(names, kWorkers, std::ref(hold));
        ASSERT_TRUE(built);
        EXPECT_EQ(positionsOf(built->characters, "c"), everyThird);
        EXPECT_EQ(positionsOf(built->bigrams, "qb"), pairQb);
        EXPECT_EQ(positionsOf(built->bigrams, "42"), digits42);
        EXPECT_EQ(positionsOf(built->prefixes, "qc"), everyThird);
        EXPECT_EQ(positionsOf(built->characters, "q").size(), kItems);
    }
    // Told to stop at the end of the held block, while the others wait for
    // it to be assembled: they stop too.
    HoldFirstWorker stopHeld(16 * int(kWorkers - 1), 16);
    EXPECT_FALSE(buildSearchIndexes(names, kWorkers, std::ref(stopHeld)));
}

} // namespace
} // namespace pallix
