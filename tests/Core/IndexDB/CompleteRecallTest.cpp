// A complete answer holds every name that holds the word, in every state of
// the store, with the names that begin with the word first.

#include <algorithm>
#include <random>
#include <set>

#include <gtest/gtest.h>

#include "Core/IndexDB/IndexStore.h"
#include "Core/IndexDB/ReadOnlySearch.h"
#include "IndexDbTestSupport.h"

namespace pallix {
namespace {

using test::fileItem;
using test::folderItem;
using test::TempDir;
using test::wordsQuery;

constexpr int kEveryMatch = 100000;

// Names made of one to three words of a small Chinese and Latin vocabulary,
// joined with or without separators, so that the words sit at the start, in
// the middle and at the end of names.
std::vector<IndexedItem> generatedTree()
{
    const char* words[] = {"合同", "发票", "租房", "劳动", "采购", "电子", "华东区", "王五", "报告", "季度",
                           "report", "Report", "final", "Final", "annual", "Annual", "draft", "summary", "v2", "版"};
    const char* separators[] = {"", " ", "_", "-"};
    const char* extensions[] = {".pdf", ".docx", ".txt", ".jpg"};
    std::mt19937 random(20241208);
    auto pick = [&](auto& list) { return list[random() % std::size(list)]; };
    std::set<std::string> paths;
    std::vector<IndexedItem> items;
    for (int i = 0; items.size() < 12000; ++i) {
        std::string name = pick(words);
        for (int more = static_cast<int>(random() % 3); more > 0; --more)
            name += std::string(pick(separators)) + pick(words);
        const bool folder = i % 10 == 0;
        const std::string path = "/home/u/d" + std::to_string(i % 97) + "/" + name + (folder ? "" : pick(extensions));
        if (!paths.insert(path).second)
            continue;
        items.push_back(folder ? folderItem(path) : fileItem(path));
    }
    // Stems holding the pairs of words that the other names hold only in
    // their extension or across the dot ("pd tp" those of "t.pd").
    for (const char* path : {"/home/u/x/pdf tools.txt", "/home/u/x/pd tp.txt", "/home/u/x/xylo.txt",
                             "/home/u/x/docx2md", "/home/u/x/txtfile.bin"})
        items.push_back(fileItem(path));
    return items;
}

bool holds(const IndexedItem& item, const std::string& word)
{
    return item.searchName().find(word) != std::string::npos ||
           item.normalizedSearchName().find(IndexedItem::normalizedSearchText(word)) != std::string::npos;
}

bool beginsWith(const IndexedItem& item, const std::string& word) { return item.searchName().starts_with(word); }

// The answer holds exactly the names of a plain scan, those beginning with the word first.
void expectEveryHolder(const std::vector<IndexedItem>& items, const std::vector<IndexedItem>& answer,
                       const std::string& word)
{
    std::set<std::string> expected, got;
    for (const IndexedItem& item : items)
        if (holds(item, word))
            expected.emplace(item.path());
    for (const IndexedItem& item : answer)
        got.emplace(item.path());
    std::vector<std::string> missing, extra;
    std::set_difference(expected.begin(), expected.end(), got.begin(), got.end(), std::back_inserter(missing));
    std::set_difference(got.begin(), got.end(), expected.begin(), expected.end(), std::back_inserter(extra));
    EXPECT_TRUE(missing.empty()) << missing.size() << " missing, first " << missing.front();
    EXPECT_TRUE(extra.empty()) << extra.size() << " not holding the word, first " << extra.front();
    const auto firstOther = std::find_if(answer.begin(), answer.end(), [&](auto& i) { return !beginsWith(i, word); });
    EXPECT_TRUE(std::none_of(firstOther, answer.end(), [&](auto& i) { return beginsWith(i, word); }))
        << "a name beginning with the word after one that does not";
}

struct Word {
    std::string text;
    bool someNameBegins;  // what the tree is made to hold
};

const Word kWords[] = {
    {"合同", true},  {"发票", true},   {"report", true}, {"final", true}, {"rep", true}, {"l", false}, {"a", true},
    {"合", true},    {"同", false},    {"ort", false},   {"nal", false},  {"票", false}, {"区", false},
    {"东区", false},
    // In the extension or across the dot.
    {"pdf", true},   {"t.pd", false},  {"同.pdf", false}, {"x", true},     {"docx", true}, {"txt", true},
    {"f", true},
};

TEST(CompleteRecall, EveryNameHoldingTheWordInEveryStoreState)
{
    const std::vector<IndexedItem> items = generatedTree();
    for (const Word& w : kWords)
        ASSERT_EQ(std::any_of(items.begin(), items.end(), [&](auto& i) { return beginsWith(i, w.text); }),
                  w.someNameBegins)
            << w.text;

    TempDir dir;
    test::seedDatabase(dir / "index.sqlite", items);
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore store(dir / "index.sqlite", clock);
    test::InstallGate gate;
    store.probe().setBeforeCacheInstallHook(gate.hook());
    ASSERT_TRUE(store.bootstrap());
    auto checkAll = [&](const char* state) {
        for (const Word& w : kWords) {
            SCOPED_TRACE(std::string(state) + ": " + w.text);
            expectEveryHolder(items, store.search(wordsQuery({w.text}), kEveryMatch), w.text);
        }
    };
    checkAll("before the cache");
    gate.open();
    ASSERT_TRUE(test::eventually([&] { return store.status().cacheReady; }));
    ASSERT_FALSE(store.status().searchIndexesComplete);
    checkAll("indexes being built");
    test::advanceAsleep(store, *clock, std::chrono::milliseconds(90));
    ASSERT_TRUE(test::eventually([&] { return store.status().searchIndexesComplete; }));
    checkAll("indexes complete");

    // The shared-drive road reads the same file on a connection of its own.
    for (const Word& w : kWords) {
        SCOPED_TRACE("read-only: " + w.text);
        expectEveryHolder(items, readOnlySearch(dir / "index.sqlite", wordsQuery({w.text}), kEveryMatch),
                          w.text);
    }
}

TEST(CompleteRecall, ShortWordsRankBeforeTheyAreCut)
{
    // Many long names hold the short words from the start; the names that are
    // the words themselves come last in row order.
    std::vector<IndexedItem> items;
    for (int i = 0; i < 6000; ++i)
        items.push_back(fileItem("/cut/qzxw long name " + std::to_string(i) + ".txt"));
    for (const char* best : {"/cut/q.txt", "/cut/qz.txt", "/cut/qzx.txt"})
        items.push_back(fileItem(best));
    TempDir dir;
    test::seedDatabase(dir / "index.sqlite", items);
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore store(dir / "index.sqlite", clock);
    test::bootstrapToComplete(store, *clock);
    for (const std::string word : {"q", "qz", "qzx"}) {
        SCOPED_TRACE(word);
        const std::vector<IndexedItem> found = store.search(wordsQuery({word}), 10);
        ASSERT_EQ(found.size(), 10u);
        EXPECT_EQ(found.front().name(), word + ".txt");
        // Every item holding the word is a candidate: none is cut before ranking.
        EXPECT_EQ(store.probe().fastCandidateItems(wordsQuery({word}))->size(), 6000u + (word == "q" ? 3 : word == "qz" ? 2 : 1));
    }
}

TEST(CompleteRecall, ShortWordsAnswerAsRankingEveryCandidate)
{
    // The generated names; some whose stems begin with "a" after a dash, which
    // rank below every name beginning with "a"; and a name that equals "abab"
    // once normalised while its stem holds only "aba", beside names that
    // begin with "abab" and rank after it.
    std::vector<IndexedItem> items = generatedTree();
    for (int i = 0; i < 40; ++i)
        items.push_back(fileItem("/dash/-ab" + std::to_string(i) + ".txt"));
    items.push_back(fileItem("/dash/aba.b"));
    for (int i = 0; i < 30; ++i)
        items.push_back(fileItem("/dash/abab" + std::to_string(i) + ".txt"));
    TempDir dir;
    test::seedDatabase(dir / "index.sqlite", items);
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore store(dir / "index.sqlite", clock);
    test::bootstrapToComplete(store, *clock);
    const SearchEngine engine;
    for (const std::string word : {"a", "r", "l", "合", "区", "2", "re", "rep", "report", "合同", "fin", "abab"}) {
        const SearchQuery q = wordsQuery({word});
        const std::vector<IndexedItem> candidates = *store.probe().fastCandidateItems(q);
        const auto leading = std::count_if(candidates.begin(), candidates.end(), [&](auto& i) { return beginsWith(i, word); });
        // Limits the names beginning with the word fill, just fill, and do not.
        for (int limit : {1, 7, int(leading) - 1, int(leading), int(leading) + 3, 30000}) {
            if (limit < 1)
                continue;
            SCOPED_TRACE(word + ", limit " + std::to_string(limit));
            EXPECT_EQ(test::pathsOf(store.search(q, limit)), test::pathsOf(engine.search(candidates, q, limit)));
        }
    }
}

} // namespace
} // namespace pallix
