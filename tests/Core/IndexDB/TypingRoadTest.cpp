#include "Core/IndexDB/TypingRoad.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "IndexDbTestSupport.h"

namespace pallix {
namespace {

using test::fileItem;
using test::pathsOf;
using test::wordsQuery;

// The road needs no store: a table and indexes of its own are its whole
// context. Typed on, its answers are a fresh road's (the scan it keeps is of
// this table as it is); the complete answer's scan ranks every item, the
// last ones too.
TEST(TypingRoad, AnswersFromACacheOfItsOwnAsAFreshRoadDoes)
{
    std::vector<IndexedItem> items;
    for (int i = 0; i < 40'000; ++i)
        items.push_back(fileItem("/d" + std::to_string(i % 90) + "/" + (i % 3 ? "report-" : "notes-") +
                                 std::to_string(i) + (i % 5 ? ".txt" : ".pdf")));
    // Far past any cap, the names that rank first.
    for (const char* late : {"/late/notes-7", "/late/pdf"})
        items.push_back(fileItem(late));
    ItemTable table;
    for (const IndexedItem& item : items)
        table.append(item);
    const LiveSearchIndexes indexes;
    const CacheView cache{table, indexes, false};
    const TypingBudget budget{20, 600};

    TypingRoad road;
    const auto typeOn = [&](const std::vector<std::string>& steps) {
        for (const std::string& step : steps) {
            const SearchQuery query = wordsQuery({step});
            const std::vector<std::string> typed = pathsOf(road.typingAnswer(cache, query, budget, nullptr, nullptr));
            ASSERT_EQ(typed.size(), 20u) << step;
            EXPECT_EQ(typed, pathsOf(TypingRoad().typingAnswer(cache, query, budget, nullptr, nullptr))) << step;
        }
    };
    typeOn({"r", "re", "rep", "repo", "report-1"});
    // The items move: the kept scan is of the table before.
    ASSERT_GT(table.removeUnder("/d0"), 0u);
    typeOn({"report-1", "report-12"});

    items.erase(std::remove_if(items.begin(), items.end(),
                               [](const IndexedItem& item) { return item.path().starts_with("/d0/"); }),
                items.end());
    for (const std::string word : {"notes-7", "pdf", "zzz"}) {
        const SearchQuery query = wordsQuery({word});
        EXPECT_EQ(pathsOf(road.scanAnswer(cache, query, 50, nullptr, nullptr)),
                  pathsOf(SearchEngine().search(items, query, 50)))
            << word;
    }
}

} // namespace
} // namespace pallix
