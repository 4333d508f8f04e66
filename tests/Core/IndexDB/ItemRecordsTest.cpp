// The records the table makes for search results, a list at a time from the
// stored runs, must equal the records that were stored.

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "Core/IndexDB/ItemTable.h"
#include "IndexDbTestSupport.h"

namespace pallix {
namespace {

using test::fileItem;
using test::folderItem;

// Names the table stores differently: short and long, decomposed accents,
// CJK, full-width letters, no or two extensions, dot files; items at the root;
// and items kept whole beside the entries.
std::vector<IndexedItem> generatedItems(unsigned seed, std::size_t count)
{
    const std::vector<std::string> stems = {"a", "Photo", "报告（最终版）", "Cafe\xCC\x81 Menu\xCC\x88", "ｆｕｌｌ",
                                            std::string(40, 'L'), ".hidden", "x"};
    const std::vector<std::string> extensions = {"", ".txt", ".JPG", ".tar.gz", ".", ".文档"};
    const std::vector<std::string> folders = {"", "/home/u", "/home/u/项目", "/home/u/" + std::string(30, 'f')};
    std::mt19937 random(seed);
    auto pick = [&random](const std::vector<std::string>& from) { return from[random() % from.size()]; };
    std::vector<IndexedItem> items = {
        folderItem("/"),
        IndexedItem("/x/y", "other", "/elsewhere", "Q", 1, 2.5, IndexedItem::ItemType::File),
        IndexedItem("/x/z.txt", "z.txt", "/x", "txt", 1, 2.5, IndexedItem::ItemType::File, "free text"),
    };
    for (std::size_t i = 0; i < count; ++i) {
        const std::string path = pick(folders) + "/" + pick(stems) + " " + std::to_string(i) + pick(extensions);
        const Date modified = 1'600'000'000.0 + double(random() % 100000000) / 7.0;
        items.push_back(random() % 6 == 0 ? folderItem(path, modified) : fileItem(path, random() % 100000, modified));
    }
    std::shuffle(items.begin(), items.end(), random);
    return items;
}

void expectRecordsOf(const ItemTable& table, const std::vector<IndexedItem>& stored,
                     const std::vector<std::uint32_t>& positions)
{
    const std::vector<IndexedItem> records = table.materialize(positions);
    ASSERT_EQ(records.size(), positions.size());
    for (std::size_t i = 0; i < positions.size(); ++i) {
        EXPECT_EQ(records[i], stored[positions[i]]) << stored[positions[i]].path();
        EXPECT_EQ(table.materialize(positions[i]), stored[positions[i]]);
    }
}

TEST(ItemRecords, ListsOfRecordsEqualTheStoredItemsAcrossChanges)
{
    std::vector<IndexedItem> items = generatedItems(7, 1200);
    ItemTable table;
    for (const IndexedItem& item : items)
        table.append(item);

    // Shuffled, a position twice, and lists shorter than the read-ahead.
    std::vector<std::uint32_t> all(table.size());
    for (std::uint32_t p = 0; p < all.size(); ++p)
        all[p] = p;
    std::vector<std::uint32_t> shuffled = all;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(3));
    shuffled.push_back(shuffled.front());
    expectRecordsOf(table, items, shuffled);
    for (std::uint32_t length = 0; length <= 14; ++length)
        expectRecordsOf(table, items, std::vector<std::uint32_t>(all.end() - length, all.end()));

    // After replacements, a folder's removal and compaction.
    for (std::size_t p = 0; p < items.size(); p += 5) {
        const IndexedItem& old = items[p];
        if (old.parentPath() != "/home/u")
            continue;
        items[p] = old.isDirectory() ? folderItem(old.path(), 99.0) : fileItem(old.path(), 4242, 99.0);
        table.patch(items[p]);
    }
    table.removeUnder("/home/u/项目");
    std::erase_if(items, [](const IndexedItem& i) { return paths::isUnder(i.path(), "/home/u/项目"); });
    table.compactIfWasteful();
    ASSERT_EQ(table.size(), items.size());
    all.resize(items.size());
    expectRecordsOf(table, items, all);
}

} // namespace
} // namespace pallix
