#include "Core/IndexDB/IndexStore.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "IndexDbTestSupport.h"

namespace pallix {
namespace {

using test::fileItem;
using test::TempDir;
using test::wordsQuery;

struct CompleteStore {
    TempDir dir;
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::unique_ptr<test::ProbedStore> store;

    explicit CompleteStore(const std::vector<IndexedItem>& items)
    {
        test::seedDatabase(dir / "index.sqlite", items);
        store = std::make_unique<test::ProbedStore>(dir / "index.sqlite", clock);
        test::bootstrapToComplete(*store, *clock);
    }

    std::vector<std::string> candidates(const SearchQuery& q) const
    {
        std::optional<std::vector<IndexedItem>> items = store->probe().fastCandidateItems(q);
        if (!items)
            return {"<none>"};
        std::vector<std::string> names;
        for (const IndexedItem& i : *items)
            names.emplace_back(i.name());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST(CandidateSelection, WordsFindEveryNameHoldingTheirPairs)
{
    CompleteStore s({fileItem("/c/planet.txt"), fileItem("/c/explain.txt"), fileItem("/c/Plan B.doc"),
                     fileItem("/c/people la.txt"), fileItem("/c/report.pdf"), fileItem("/c/café.txt"),
                     fileItem("/c/cafe au lait.txt"), fileItem("/c/Café Menü.txt")});
    struct Case {
        std::string word;
        std::vector<std::string> expected;
    } cases[] = {
        // Names holding every pair, whether or not some name begins with the word.
        {"pla", {"Plan B.doc", "explain.txt", "people la.txt", "planet.txt"}},
        // Surrounding white space is trimmed.
        {" pla\t", {"Plan B.doc", "explain.txt", "people la.txt", "planet.txt"}},
        {"xpl", {"explain.txt"}},
        // No name begins with "eop": every pair of the word, anywhere in the name.
        {"eopl", {"people la.txt"}},
        // A pair no name holds: nothing (the caller ranks everything).
        {"reportzip", {"<none>"}},
        // The extension and the pairs across the dot are the name's too.
        {"reportpdf", {"report.pdf"}},
        {"t.pd", {"report.pdf"}},
        {"df", {"report.pdf"}},
        {"doc", {"Plan B.doc"}},
        // Tokens keep their case; the keys are lower case.
        {"Pla", {"<none>"}},
        // "fé" is looked up as typed.
        {"café", {"Café Menü.txt", "café.txt"}},
        {"cafe", {"Café Menü.txt", "cafe au lait.txt", "café.txt"}},
        {"p", {"Plan B.doc", "explain.txt", "people la.txt", "planet.txt", "report.pdf"}},
        {"--", {"<none>"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        EXPECT_EQ(s.candidates(wordsQuery({c.word})), c.expected);
    }
}

TEST(CandidateSelection, OnlyPlainOneWordQueriesUseTheIndexes)
{
    CompleteStore s({fileItem("/c/planet.txt")});
    EXPECT_TRUE(s.store->probe().shouldUseFastCharacterIndex(wordsQuery({"pla"})));
    std::vector<std::pair<std::string, SearchQuery>> excluded;
    SearchQuery q = wordsQuery({"pla"});
    q.useRegularExpression = true;
    excluded.emplace_back("regular expression", q);
    q = wordsQuery({"pla"});
    q.wildcardPattern = "pla*";
    excluded.emplace_back("wildcard", q);
    q = wordsQuery({"pla"});
    q.pathFilter = "/c";
    excluded.emplace_back("path filter", q);
    q = wordsQuery({"pla"});
    q.extensionFilter = "txt";
    excluded.emplace_back("extension filter", q);
    q = wordsQuery({"pla"});
    q.modifiedAfter = 1.0;
    excluded.emplace_back("date filter", q);
    excluded.emplace_back("two words", wordsQuery({"pla", "net"}));
    excluded.emplace_back("blank word", wordsQuery({" "}));
    for (const auto& [why, query] : excluded) {
        SCOPED_TRACE(why);
        EXPECT_FALSE(s.store->probe().shouldUseFastCharacterIndex(query));
        EXPECT_FALSE(s.store->probe().fastCandidateItems(query));
    }
    // Type, content filters, case and mode do not matter here.
    q = wordsQuery({"pla"}, SearchMatchMode::Suffix, true);
    q.typeFilter = IndexedItem::ItemType::Folder;
    q.contentFilters = {SearchContentFilter::Images};
    EXPECT_TRUE(s.store->probe().shouldUseFastCharacterIndex(q));
}

TEST(CandidateSelection, SearchesOverEveryItemAnswerAsTheEngine)
{
    // Many items hold the words in their names; others hold them only in
    // their folders (whose answers the filter keeps per folder), in an
    // extension, in CJK, or were written after the indexes were built.
    const char* folders[] = {"/home/u/Documents", "/home/u/Reports 2024", "/data/报告", "/srv/季度报告/x", "/a"};
    const char* stems[] = {"report", "Report summary", "sol", "server notes", "报告", "季度报告", "rep-ort", "serve",
                           "photo", "summary"};
    const char* extensions[] = {".txt", ".report", ".sol", "", ".pdf"};
    std::vector<IndexedItem> items;
    for (int i = 0; items.size() < 4600; ++i) {
        // Every path once: the store keeps one item a path.
        const std::string name = std::string(stems[i % 10]) + (i % 3 ? std::to_string(i) : "") + extensions[i % 5];
        if (i % 3 == 0 && i >= 10)
            continue;
        items.push_back(fileItem(std::string(folders[i % 5]) + "/" + name));
    }
    CompleteStore complete(items);
    std::vector<IndexedItem> written;
    for (int i = 0; i < 40; ++i)
        written.push_back(fileItem("/late/report sol " + std::to_string(i) + ".txt"));
    ASSERT_TRUE(complete.store->upsert(written));
    items.insert(items.end(), written.begin(), written.end());
    const SearchEngine engine;
    for (const std::vector<std::string>& words : std::vector<std::vector<std::string>>{
             {"report", "s"}, {"report", "sol"}, {"报告", "季"}, {"sum", "rep"}, {"ser", "report"}, {"photo", "报告"}}) {
        for (int limit : {30, 900}) {
            SearchQuery q = wordsQuery(words);
            SCOPED_TRACE(q.rawText + ", limit " + std::to_string(limit));
            EXPECT_EQ(test::pathsOf(complete.store->search(q, limit)), test::pathsOf(engine.search(items, q, limit)));
            q.extensionFilter = "txt";
            EXPECT_EQ(test::pathsOf(complete.store->search(q, limit)), test::pathsOf(engine.search(items, q, limit)));
        }
    }
}

TEST(CandidateSelection, ShortWordsKeepEveryCandidate)
{
    // 6,000 names beginning with "qzxw" and 4,000 with "q" further in; rows
    // are read in order, so positions follow it.
    std::vector<IndexedItem> items;
    for (int i = 0; i < 4000; ++i)
        items.push_back(fileItem("/cap/aq" + std::to_string(i) + ".txt"));
    for (int i = 0; i < 6000; ++i)
        items.push_back(fileItem("/cap/qzxw" + std::to_string(i) + ".txt"));
    CompleteStore s(items);
    struct Case {
        std::string word;
        std::size_t count;
    } cases[] = {{"q", 10000}, {"qz", 6000}, {"qzx", 6000}, {"qzxw", 6000}, {"qzxw1", 1111}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        std::optional<std::vector<IndexedItem>> found = s.store->probe().fastCandidateItems(wordsQuery({c.word}));
        ASSERT_TRUE(found);
        EXPECT_EQ(found->size(), c.count);
        // In ascending positions.
        EXPECT_EQ(found->front().name(), c.word == "q" ? "aq0.txt" : c.word == "qzxw1" ? "qzxw1.txt" : "qzxw0.txt");
        EXPECT_EQ(found->back().name(), "qzxw" + std::string(c.word == "qzxw1" ? "1999" : "5999") + ".txt");
    }
    // Ranked, the names beginning with the word come first.
    const std::vector<IndexedItem> ranked = s.store->search(wordsQuery({"q"}), 6001);
    ASSERT_EQ(ranked.size(), 6001u);
    EXPECT_TRUE(ranked[5999].name().starts_with("qzxw"));
    EXPECT_TRUE(ranked[6000].name().starts_with("aq"));
}

} // namespace
} // namespace pallix
