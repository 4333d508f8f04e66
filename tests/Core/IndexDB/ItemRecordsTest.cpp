// The records the table makes for search results: made from the stored runs,
// in place, a list at a time, they must equal the records that were stored.

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "Core/IndexDB/ItemTable.h"
#include "IndexDbTestSupport.h"

namespace pallix {
namespace {

using test::fileItem;
using test::folderItem;

// Field by field, so that a failure names the field.
void expectSameRecord(const IndexedItem& made, const IndexedItem& expected)
{
    EXPECT_EQ(made.path(), expected.path());
    EXPECT_EQ(made.name(), expected.name());
    EXPECT_EQ(made.parentPath(), expected.parentPath());
    EXPECT_EQ(made.fileExtension(), expected.fileExtension());
    EXPECT_EQ(made.size(), expected.size());
    EXPECT_EQ(made.modifiedAt(), expected.modifiedAt());
    EXPECT_EQ(made.type(), expected.type());
    EXPECT_EQ(made.searchableText(), expected.searchableText());
    EXPECT_EQ(made.searchName(), expected.searchName());
    EXPECT_EQ(made.normalizedSearchName(), expected.normalizedSearchName());
    EXPECT_EQ(made.searchNameWithoutExtension(), expected.searchNameWithoutExtension());
    EXPECT_EQ(made.normalizedSearchNameWithoutExtension(), expected.normalizedSearchNameWithoutExtension());
    EXPECT_EQ(made, expected);
}

// Names and folders of every shape the table stores differently: short ones
// that fit a string's own buffer and long ones that do not, upper case,
// decomposed accents, combining marks, full-width letters, CJK, no
// extension, dot files, a trailing dot, two extensions.
std::vector<IndexedItem> generatedItems(unsigned seed, std::size_t count)
{
    const std::vector<std::string> stems = {
        "a", "readme", "Photo", "报告（最终版）", "Cafe\xCC\x81 Menu\xCC\x88", "Ünïcode Ωmega", "ｆｕｌｌ ｗｉｄｔｈ",
        "e\xCC\x81\xCC\x82x", "很长的中文文件名称用于测试字符串", std::string(40, 'L'), "Mixed_Case-Name 2024 (v2)",
        "日本語ファイル", "x",
    };
    const std::vector<std::string> extensions = {"", ".txt", ".JPG", ".tar.gz", ".", ".Tar.GZ", ".文档", ".longextension"};
    const std::vector<std::string> folders = {
        "/", "/home/u", "/home/u/项目", "/home/u/" + std::string(30, 'f'), "/a", "/媒体/照片 2024",
    };
    std::mt19937 random(seed);
    auto pick = [&random](const std::vector<std::string>& from) { return from[random() % from.size()]; };
    std::vector<IndexedItem> items;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string folder = pick(folders);
        std::string name = pick(stems) + pick(extensions);
        if (random() % 8 == 0)
            name = "." + name;  // a dot file
        name += " " + std::to_string(i);  // paths stay distinct
        if (random() % 5 == 0)
            name += pick(extensions);
        const std::string path = (folder == "/" ? "" : folder) + "/" + name;
        const auto size = static_cast<std::int64_t>(random() % 100000);
        const Date modified = 1'600'000'000.0 + double(random() % 100000000) / 7.0;
        items.push_back(random() % 6 == 0 ? folderItem(path, modified) : fileItem(path, size, modified));
    }
    return items;
}

// Items the table keeps whole beside its entries.
std::vector<IndexedItem> sideItems()
{
    return {
        folderItem("/"),
        IndexedItem("/x/y", "other", "/elsewhere", "Q", 1, 2.5, IndexedItem::ItemType::File),
        IndexedItem("/x/z.txt", "z.txt", "/x", "txt", 1, 2.5, IndexedItem::ItemType::File, "free text"),
        IndexedItem("/x/" + std::string(70000, 'l'), std::string(70000, 'l'), "/x", "", 0, 0, IndexedItem::ItemType::File),
    };
}

struct Stored {
    ItemTable table;
    std::vector<IndexedItem> items;  // by position
};

Stored storedItems(unsigned seed, std::size_t count)
{
    Stored s;
    s.items = generatedItems(seed, count);
    const std::vector<IndexedItem> side = sideItems();
    // Side items between the others, so that a list of records switches kinds.
    for (std::size_t i = 0; i < side.size(); ++i)
        s.items.insert(s.items.begin() + static_cast<std::ptrdiff_t>((i * 7 + 3) % s.items.size()), side[i]);
    for (const IndexedItem& item : s.items)
        s.table.append(item);
    return s;
}

TEST(ItemRecords, ARecordMadeFromTheRunsEqualsTheOneStoredAndTheOneMadeFromAView)
{
    const Stored s = storedItems(7, 1500);
    ASSERT_EQ(s.table.size(), s.items.size());
    for (std::uint32_t p = 0; p < s.table.size(); ++p) {
        SCOPED_TRACE(s.items[p].path().substr(0, 60));
        const IndexedItem made = s.table.materialize(p);
        expectSameRecord(made, s.items[p]);
        // The way records were made before: a copy of each field of the item's view.
        if (s.items[p].searchableText().empty())
            expectSameRecord(made, IndexedItem::withSearchForms(s.table.at(p)));
    }
}

void expectRecordsOf(const Stored& s, const std::vector<std::uint32_t>& positions)
{
    const std::vector<IndexedItem> records = s.table.materialize(positions);
    ASSERT_EQ(records.size(), positions.size());
    for (std::size_t i = 0; i < positions.size(); ++i) {
        SCOPED_TRACE(i);
        expectSameRecord(records[i], s.items[positions[i]]);
    }
}

TEST(ItemRecords, AListOfRecordsHoldsThePositionsInTheirOrder)
{
    const Stored s = storedItems(11, 1200);
    std::vector<std::uint32_t> positions(s.table.size());
    for (std::uint32_t p = 0; p < positions.size(); ++p)
        positions[p] = p;
    std::mt19937 random(3);
    std::shuffle(positions.begin(), positions.end(), random);
    positions.push_back(positions.front());  // a position twice
    expectRecordsOf(s, positions);

    // Lists shorter than the read-ahead, ending at the table's last items.
    const auto last = static_cast<std::uint32_t>(s.table.size() - 1);
    for (std::uint32_t length = 0; length <= 20; ++length) {
        SCOPED_TRACE(length);
        std::vector<std::uint32_t> few;
        for (std::uint32_t i = 0; i < length; ++i)
            few.push_back(last - i * 3);
        expectRecordsOf(s, few);
    }
}

TEST(ItemRecords, RecordsFollowReplacementsRemovalsAndCompaction)
{
    Stored s = storedItems(13, 600);
    // Replace some items with another size, date and kind of name, then drop a folder.
    for (std::size_t p = 0; p < s.items.size(); p += 5) {
        const IndexedItem& old = s.items[p];
        if (!old.searchableText().empty() || old.path() == "/" || old.parentPath() == "/elsewhere")
            continue;
        const IndexedItem changed = old.isDirectory() ? folderItem(old.path(), 99.0) : fileItem(old.path(), 4242, 99.0);
        s.table.patch(changed);
        s.items[p] = changed;
    }
    s.table.removeUnder("/home/u/项目");
    std::erase_if(s.items, [](const IndexedItem& i) { return paths::isUnder(i.path(), "/home/u/项目"); });
    s.table.compactIfWasteful();
    ASSERT_EQ(s.table.size(), s.items.size());

    std::vector<std::uint32_t> all(s.table.size());
    for (std::uint32_t p = 0; p < all.size(); ++p)
        all[p] = p;
    expectRecordsOf(s, all);
}

} // namespace
} // namespace pallix
