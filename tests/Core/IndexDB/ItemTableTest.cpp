#include "Core/IndexDB/ItemTable.h"

#include <sstream>

#include <gtest/gtest.h>

#include "Core/IndexDB/NameOrder.h"
#include "IndexDbTestSupport.h"

namespace pallix {
namespace {

using test::fileItem;
using test::folderItem;

void expectSameFields(const ItemRef& r, const IndexedItem& item)
{
    EXPECT_EQ(r.path, item.path());
    EXPECT_EQ(r.name, item.name());
    EXPECT_EQ(r.parentPath, item.parentPath());
    EXPECT_EQ(r.fileExtension, item.fileExtension());
    EXPECT_EQ(r.size, item.size());
    EXPECT_EQ(r.modifiedAt, item.modifiedAt());
    EXPECT_EQ(r.isFolder, item.isDirectory());
    EXPECT_EQ(r.searchName, item.searchName());
    EXPECT_EQ(r.normalizedSearchName, item.normalizedSearchName());
    EXPECT_EQ(r.searchNameWithoutExtension, item.searchNameWithoutExtension());
    EXPECT_EQ(r.normalizedSearchNameWithoutExtension, item.normalizedSearchNameWithoutExtension());
}

// Items whose fields share bytes in every way the table exploits, and some
// where they do not.
std::vector<IndexedItem> variedItems()
{
    return {
        fileItem("/home/u/readme"),                            // all forms equal
        fileItem("/home/u/Photo.JPG", 123456789012),           // upper case: lower-cased name stored
        fileItem("/home/u/报告（最终版）.docx"),                // punctuation dropped from the normalised forms
        fileItem("/home/u/Cafe\xCC\x81 Menu\xCC\x88.txt"),     // decomposed: forms come from the composed name
        fileItem("/home/u/archive.tar.gz"),
        fileItem("/home/u/.bashrc"),
        fileItem("/home/u/notes."),
        folderItem("/home/u/Foo.app"),
        folderItem("/"),
        fileItem("/top"),
        IndexedItem("/x/y", "other", "/elsewhere", "Q", 1, 2.5, IndexedItem::ItemType::File),  // nothing shared
        IndexedItem("/x/z", "z", "/x", "", 1, 2.5, IndexedItem::ItemType::File, "free text"),  // kept whole
        IndexedItem("/x/" + std::string(70000, 'l'), std::string(70000, 'l'), "/x", "", 0, 0,
                    IndexedItem::ItemType::File),  // too long for an entry
    };
}

TEST(ItemTable, GivesBackEveryFieldOfEveryItem)
{
    ItemTable table;
    const std::vector<IndexedItem> items = variedItems();
    for (const IndexedItem& item : items)
        table.append(item);
    ASSERT_EQ(table.size(), items.size());
    for (std::size_t p = 0; p < items.size(); ++p) {
        SCOPED_TRACE(items[p].path().substr(0, 40));
        expectSameFields(table.at(p), items[p]);
        // What ranking a name reads, without the folder.
        const ItemRef forms = table.nameFormsAt(p);
        EXPECT_EQ(forms.name, items[p].name());
        EXPECT_EQ(forms.searchName, items[p].searchName());
        EXPECT_EQ(forms.searchNameWithoutExtension, items[p].searchNameWithoutExtension());
        EXPECT_EQ(forms.normalizedSearchName, items[p].normalizedSearchName());
        EXPECT_EQ(forms.normalizedSearchNameWithoutExtension, items[p].normalizedSearchNameWithoutExtension());
        EXPECT_EQ(table.find(items[p].path()), std::optional<std::uint32_t>(p));
    }
    // Records made from the table carry the stored forms; the side item keeps its text.
    EXPECT_EQ(table.materialize(1), items[1]);
    EXPECT_EQ(table.materialize(11), items[11]);
    EXPECT_EQ(table.materialize(11).searchableText(), "free text");
    EXPECT_FALSE(table.find("/home/u"));
}

TEST(ItemTable, PatchReplacesInPlaceOrAppends)
{
    ItemTable table;
    table.append(fileItem("/a/one.txt", 1));
    table.append(fileItem("/a/two.txt", 2));
    table.patch(fileItem("/a/one.txt", 100));
    table.patch(fileItem("/a/three.txt", 3));
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table.at(0).size, 100);
    EXPECT_EQ(table.at(2).path, "/a/three.txt");
    EXPECT_EQ(table.find("/a/three.txt"), std::optional<std::uint32_t>(2));
}

TEST(ItemTable, RemoveUnderComparesWholeComponentsExactly)
{
    struct Case {
        const char* prefix;
        std::vector<std::string> kept;
    } cases[] = {
        {"/a/b", {"/a/bc", "/a/B/x", "/a/myAx/f", "/a/my_x"}},
        {"/a/B", {"/a/b", "/a/b/c", "/a/bc", "/a/myAx/f", "/a/my_x"}},
        {"/a/my_x", {"/a/b", "/a/b/c", "/a/bc", "/a/B/x", "/a/myAx/f"}},
        {"/", {}},
        {"/nothing", {"/a/b", "/a/b/c", "/a/bc", "/a/B/x", "/a/myAx/f", "/a/my_x"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefix);
        ItemTable table;
        for (const char* p : {"/a/b", "/a/b/c", "/a/bc", "/a/B/x", "/a/myAx/f", "/a/my_x"})
            table.append(fileItem(p));
        table.removeUnder(c.prefix);
        std::vector<std::string> kept;
        for (std::size_t p = 0; p < table.size(); ++p) {
            kept.emplace_back(table.at(p).path);
            EXPECT_EQ(table.find(table.at(p).path), std::optional<std::uint32_t>(p)) << "map follows the moves";
        }
        EXPECT_EQ(kept, c.kept);
    }
}

TEST(ItemTable, CompactionKeepsContentAndDropsGarbage)
{
    ItemTable table;
    for (int i = 0; i < 2000; ++i)
        table.append(fileItem("/data/file-" + std::to_string(i) + ".bin", i));
    for (int round = 0; round < 3; ++round)
        for (int i = 0; i < 2000; ++i)
            table.patch(fileItem("/data/file-" + std::to_string(i) + ".bin", i + round));
    const std::size_t before = table.memoryUsage();
    table.compactIfWasteful();
    EXPECT_LT(table.memoryUsage(), before);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(table.at(static_cast<std::size_t>(i)).name, "file-" + std::to_string(i) + ".bin");
}

TEST(ItemTable, UnusedFoldersGoByTheirBytesAndAFolderUsedAgainStays)
{
    // Few folders, but deep ones: their paths outweigh everything else.
    auto chain = [](const std::string& root) {
        std::vector<IndexedItem> items;
        std::string path = root;
        for (int i = 0; i < 600; ++i)
            items.push_back(folderItem(path += "/d"));
        return items;
    };
    ItemTable table;
    for (int i = 0; i < 50; ++i)
        table.append(fileItem("/keep/file-" + std::to_string(i)));
    for (const IndexedItem& item : chain("/tmp/gone"))
        table.append(item);
    table.removeUnder("/tmp/gone");
    // A folder of the removed chain holds an item again before any compaction.
    const std::string revivedFolder(chain("/tmp/gone")[299].path());
    table.append(fileItem(revivedFolder + "/again.txt"));
    // Of the chain's 600 folders one is in use again.
    const std::size_t before = table.memoryUsage();
    table.compactIfWasteful();
    EXPECT_LT(table.memoryUsage(), before - 400 * 1024) << "the unused folders' paths stayed";
    ASSERT_EQ(table.size(), 51u);
    EXPECT_EQ(table.at(50).path, revivedFolder + "/again.txt");
    EXPECT_EQ(table.at(7).path, "/keep/file-7");
    EXPECT_EQ(table.find(revivedFolder + "/again.txt"), 50u);

    // A few hundred bytes of garbage are not worth a rewrite.
    table.append(fileItem(std::string(chain("/tmp/gone")[599].path()) + "/deepest.txt"));
    table.removeUnder(revivedFolder + "/again.txt");
    const std::size_t kept = table.folderCount();
    table.compactIfWasteful();
    EXPECT_EQ(table.folderCount(), kept);
}

TEST(ItemTable, ConcatenationKeepsOrderAndLetsLaterPathsWin)
{
    const std::vector<IndexedItem> items = variedItems();
    std::vector<ItemTable> parts(3);
    for (std::size_t i = 0; i < items.size(); ++i)
        parts[i * 3 / items.size()].append(items[i]);
    parts[2].append(fileItem("/home/u/readme", 77));  // again, in a later part
    ItemTable joined = ItemTable::concatenate(std::move(parts));
    ASSERT_EQ(joined.size(), items.size());
    for (std::size_t p = 0; p + 1 < items.size(); ++p) {
        SCOPED_TRACE(items[p + 1].path().substr(0, 40));
        expectSameFields(joined.at(p), items[p + 1]);
        EXPECT_EQ(joined.find(items[p + 1].path()), std::optional<std::uint32_t>(p));
    }
    EXPECT_EQ(joined.at(*joined.find("/home/u/readme")).size, 77);
    EXPECT_EQ(joined.materialize(10).searchableText(), "free text");
    // The joined table goes on as any other.
    joined.append(fileItem("/after/join.txt"));
    EXPECT_EQ(joined.find("/after/join.txt"), std::optional<std::uint32_t>(items.size()));
}

// Large enough that the paths are hashed on several threads.
TEST(ItemTable, ALargeJoinFindsEveryPathAndDropsEarlierRepeats)
{
    const auto pathOf = [](int i) { return "/data/set-" + std::to_string(i % 300) + "/Item " + std::to_string(i) + ".dat"; };
    std::vector<ItemTable> parts(2);
    constexpr int kItems = 150000;
    for (int i = 0; i < kItems; ++i) {
        if (i % 5000 == 0)  // kept on the side: its path is not its parent's joined with its name
            parts[i < 70000 ? 0 : 1].append(
                IndexedItem("/side/" + std::to_string(i), "side " + std::to_string(i), "/elsewhere", "", 1, 0,
                            IndexedItem::ItemType::File));
        parts[i < 70000 ? 0 : 1].append(fileItem(pathOf(i), i));
    }
    parts[1].append(fileItem(pathOf(123), 7));  // again, in the later part
    ItemTable joined = ItemTable::concatenate(std::move(parts));
    ASSERT_EQ(joined.size(), std::size_t(kItems + kItems / 5000));
    for (int i = 0; i < kItems; ++i) {
        const std::optional<std::uint32_t> at = joined.find(pathOf(i));
        ASSERT_TRUE(at) << pathOf(i);
        ASSERT_EQ(joined.at(*at).path, pathOf(i));
        ASSERT_EQ(joined.at(*at).size, i == 123 ? 7 : i);
    }
    for (int i = 0; i < kItems; i += 5000) {
        const std::optional<std::uint32_t> at = joined.find("/side/" + std::to_string(i));
        ASSERT_TRUE(at) << i;
        EXPECT_EQ(joined.at(*at).name, "side " + std::to_string(i));
    }
    EXPECT_FALSE(joined.find("/data/set-1/Item 150001.dat"));
}

TEST(ItemTable, ManyItemsStayFindableAndCompact)
{
    ItemTable table;
    for (int i = 0; i < 100000; ++i)
        table.append(fileItem("/home/user/Documents/project-" + std::to_string(i % 100) + "/Report " +
                              std::to_string(i) + ".pdf"));
    for (int i = 0; i < 100000; i += 997)
        ASSERT_EQ(table.find("/home/user/Documents/project-" + std::to_string(i % 100) + "/Report " +
                             std::to_string(i) + ".pdf"),
                  std::optional<std::uint32_t>(i));
    // The path, the lower-cased name and the normalised name, 40 bytes of entry
    // and the map: well under the records' own size.
    EXPECT_LT(table.memoryUsage() / table.size(), 160u);
}

} // namespace
} // namespace pallix

namespace pallix {
namespace {

// The facts of every position are those of its record, with the folder the
// table interned for its parent (none for an item kept on the side).
void expectFactsOfRecords(const ItemTable& table)
{
    for (std::size_t p = 0; p < table.size(); ++p) {
        const IndexedItem item = table.materialize(p);
        SCOPED_TRACE(item.path());
        const ItemFacts& f = table.facts()[p];
        const ItemFacts expected = ItemFacts::of(item.ref());
        EXPECT_EQ(f.bits, expected.bits);
        EXPECT_EQ(f.nameCharacters, expected.nameCharacters);
        EXPECT_EQ(f.nameBytes, expected.nameBytes);
        EXPECT_EQ(f.normalizedBytes, expected.normalizedBytes);
        if (f.folder != ItemFacts::kNoFolder) {
            EXPECT_EQ(table.folder(f.folder).path, item.parentPath());
        }
        // The lighter reads agree with the whole one.
        const ItemRef whole = table.at(p);
        const ItemRef light = table.atWithoutPath(p);
        EXPECT_EQ(light.name, whole.name);
        EXPECT_EQ(light.normalizedSearchName, whole.normalizedSearchName);
        EXPECT_EQ(table.nameAt(p), whole.name);
        const ItemSource::NameViews names = table.namesAt(p);
        EXPECT_EQ(names.normalized, whole.normalizedSearchName);
        EXPECT_EQ(names.normalizedStem, whole.normalizedSearchNameWithoutExtension);
        EXPECT_EQ(names.name, whole.name);
    }
}

TEST(ItemTable, FactsFollowEveryChange)
{
    ItemTable table;
    for (const IndexedItem& item : variedItems())
        table.append(item);
    table.append(fileItem("/usr/bin/tool.vim"));
    table.append(fileItem("/home/u/.cache/x.bin"));
    expectFactsOfRecords(table);
    table.patch(folderItem("/home/u/Photo.JPG"));  // now a folder
    table.patch(fileItem("/new/place/n.txt"));
    table.removeUnder("/home/u/.cache");
    expectFactsOfRecords(table);

    std::vector<ItemTable> parts(2);
    parts[0].append(fileItem("/p/a.txt"));
    parts[1].append(fileItem("/p/b.txt"));
    parts[1].append(fileItem("/q/c.txt"));
    const ItemTable joined = ItemTable::concatenate(std::move(parts));
    expectFactsOfRecords(joined);
    EXPECT_EQ(joined.facts()[0].folder, joined.facts()[1].folder) << "one folder /p for both parts";
}

TEST(ItemTable, SearchingTheTableGivesTheAnswersOfItsRecords)
{
    // The table keeps facts; the same records in a list keep none. Case twins
    // make equal results, so the order among them is checked too.
    std::vector<IndexedItem> items;
    for (int i = 0; i < 5000; ++i) {
        const std::string folder = "/vol/" + std::string(i % 3 ? "Lib" : "docs") + std::to_string(i % 41);
        items.push_back(fileItem(folder + "/report " + std::to_string(i % 97) + ".txt", i % 5));
        if (i % 9 == 0)
            items.push_back(fileItem(folder + "/REPORT " + std::to_string(i % 97) + ".txt", i % 5));
    }
    items.push_back(IndexedItem("/x/y", "other", "/elsewhere", "", 1, 2.5, IndexedItem::ItemType::File));
    ItemTable table;
    for (const IndexedItem& item : items)
        table.append(item);
    const SearchEngine engine;
    for (const char* text : {"report", "rep 4", "lib", "libr", "docs1", "t", "*.txt", "REPORT 1", "other"}) {
        for (int limit : {1, 30, 4000}) {
            SCOPED_TRACE(std::string(text) + " limit " + std::to_string(limit));
            SearchQuery q;
            q.contentFilters = {SearchContentFilter::All};
            q.excludeSystemJunk = true;
            std::istringstream words(text);
            for (std::string word; words >> word;)
                q.tokens.push_back(word);
            if (q.tokens.front().find('*') != std::string::npos) {
                q.wildcardPattern = q.tokens.front();
                q.tokens.clear();
            }
            std::vector<std::string> fromTable;
            for (std::uint32_t p : engine.searchIndices(table, std::nullopt, q, limit))
                fromTable.emplace_back(table.materialize(p).path());
            EXPECT_EQ(fromTable, test::pathsOf(engine.search(items, q, limit)));
        }
    }
}

// The table's names' ordinals, as the store sets them.
void setNameOrders(ItemTable& table)
{
    TextList names;
    for (std::size_t p = 0; p < table.size(); ++p)
        names.append(table.nameAt(p));
    table.setNameOrders(*nameOrdersOf(names, 1, [] { return true; }));
}

TEST(ItemTable, NameOrdinalsFollowTheirItemsAndChangesForgetThem)
{
    ItemTable table;
    for (const char* path : {"/a/b.txt", "/a/A.txt", "/c/b.txt", "/d/z.txt"})
        table.append(fileItem(path));
    EXPECT_EQ(table.nameOrder(0), 0u);
    setNameOrders(table);
    EXPECT_EQ(table.nameOrder(0), table.nameOrder(2)) << "equal names, equal ordinals";
    EXPECT_LT(table.nameOrder(1), table.nameOrder(0));
    EXPECT_LT(table.nameOrder(0), table.nameOrder(3));

    std::uint64_t version = table.version();
    table.removeUnder("/a");  // the other two move up with their ordinals
    EXPECT_NE(table.version(), version);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_LT(table.nameOrder(0), table.nameOrder(1));
    EXPECT_EQ(table.nameAt(0), "b.txt");

    version = table.version();
    table.patch(fileItem("/c/b.txt", 99));  // replaced: its ordinal is unknown again
    EXPECT_NE(table.version(), version);
    EXPECT_EQ(table.nameOrder(0), 0u);
    EXPECT_NE(table.nameOrder(1), 0u);
    version = table.version();
    table.removeUnder("/nowhere");
    EXPECT_EQ(table.version(), version) << "nothing moved";
    table.append(fileItem("/e/new.txt"));
    EXPECT_NE(table.version(), version);
    EXPECT_EQ(table.nameOrder(2), 0u);
}

TEST(ItemTable, NameOrdinalsLeaveTheAnswersAsTheyAre)
{
    // Names whose collation order is not their byte order, equal names in
    // several folders, and, after a patch, items without an ordinal.
    const std::vector<std::string> names = {"b.txt", "B.txt", "a.txt", "Á.txt", "报告.txt", "北京.txt", "_x.txt",
                                            "x-1.txt", "x10.txt", "x2.txt", "café.txt", "cafe.txt", "Z.txt"};
    std::vector<IndexedItem> items;
    for (int i = 0; i < 4000; ++i)
        items.push_back(fileItem("/vol/f" + std::to_string(i % 37) + "/" + names[std::size_t(i) % names.size()],
                                 i % 7, 1'700'000'000.0 + i % 11));
    ItemTable table;
    for (const IndexedItem& item : items)
        table.append(item);
    setNameOrders(table);
    for (int i = 0; i < 4000; i += 13) {
        items[std::size_t(i)] = fileItem(items[std::size_t(i)].path(), 3);
        table.patch(items[std::size_t(i)]);
    }
    const SearchEngine engine;
    for (const char* text : {"*.txt", "txt", "x"}) {
        for (bool ascending : {true, false}) {
            for (int limit : {1, 25, 2000, 3900}) {
                SCOPED_TRACE(std::string(text) + (ascending ? " up" : " down") + " limit " + std::to_string(limit));
                SearchQuery q;
                q.contentFilters = {SearchContentFilter::All};
                q.sortField = SearchSortField::Name;
                q.ascending = ascending;
                if (std::string_view(text).starts_with("*"))
                    q.wildcardPattern = text;
                else
                    q.tokens = {text};
                std::vector<std::string> fromTable;
                for (std::uint32_t p : engine.searchIndices(table, std::nullopt, q, limit))
                    fromTable.emplace_back(table.materialize(p).path());
                EXPECT_EQ(fromTable, test::pathsOf(engine.search(items, q, limit)));
            }
        }
    }
}

} // namespace
} // namespace pallix

#include <random>

namespace pallix {
namespace {

// Removals take a few items out of the map one by one and move the rest
// down; after any run of them the table must be the one a fresh append of
// the items left gives: same order, every path found at its position, the
// gone ones found nowhere. Items kept whole (free text) have no folder
// number and must still go with their folder.
TEST(ItemTable, RemovalsInPlaceLeaveTheTableAFreshOneWouldBe)
{
    std::mt19937 random(11);
    ItemTable table;
    std::vector<IndexedItem> items;  // what the table should hold, in order
    const auto add = [&](const IndexedItem& item) {
        table.append(item);
        std::erase_if(items, [&](const IndexedItem& i) { return i.path() == item.path(); });
        items.push_back(item);
    };
    for (int f = 0; f < 30; ++f) {
        const std::string folder = "/r/d" + std::to_string(f % 10) + (f >= 10 ? "/s" + std::to_string(f) : "");
        add(folderItem(folder));
        for (int i = 0; i < 150; ++i)
            add(i % 50 == 7 ? IndexedItem(folder + "/t" + std::to_string(i), "t" + std::to_string(i), folder, "", 1,
                                          2, IndexedItem::ItemType::File, "free text")
                            : fileItem(folder + "/n" + std::to_string(i) + ".txt"));
    }
    std::vector<std::string> gonePaths;

    const auto expectFresh = [&] {
        std::vector<std::string> paths, expected;
        for (std::size_t p = 0; p < table.size(); ++p) {
            paths.emplace_back(table.at(p).path);
            ASSERT_EQ(table.find(paths.back()), std::optional<std::uint32_t>(p)) << paths.back();
        }
        for (const IndexedItem& item : items)
            expected.emplace_back(item.path());
        ASSERT_EQ(paths, expected);
        for (const std::string& gone : gonePaths)
            ASSERT_FALSE(table.find(gone).has_value()) << gone;
    };
    const auto removeFromModel = [&](const std::vector<std::string>& prefixes, const std::vector<std::string>& kept) {
        std::erase_if(items, [&](const IndexedItem& item) {
            const auto under = [&](const std::string& p) { return paths::isUnder(item.path(), p); };
            const bool gone = std::any_of(prefixes.begin(), prefixes.end(), under) &&
                              std::none_of(kept.begin(), kept.end(), under);
            if (gone)
                gonePaths.emplace_back(item.path());
            return gone;
        });
    };

    for (int step = 0; step < 40; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        std::vector<std::string> prefixes;
        for (int i = 0, n = 1 + int(random() % 6); i < n && !items.empty(); ++i)
            prefixes.emplace_back(items[random() % items.size()].path());
        if (step % 10 == 9)
            prefixes.push_back("/r/d" + std::to_string(random() % 10));  // a folder and its folders below
        std::vector<std::uint32_t> removed;
        if (step % 4 == 3) {
            const std::vector<std::string> kept{prefixes[0] + "/s" + std::to_string(random() % 30),
                                                std::string(items[random() % items.size()].path())};
            table.removeUnder(prefixes[0], kept, &removed);
            removeFromModel({prefixes[0]}, kept);
        } else {
            table.removeUnderAny(prefixes, &removed);
            removeFromModel(prefixes, {});
        }
        EXPECT_TRUE(std::is_sorted(removed.begin(), removed.end()));
        expectFresh();
        if (step % 5 == 0)  // appends after removals land in the renumbered map
            add(fileItem("/r/new" + std::to_string(step) + "/x.txt"));
    }
    table.removeUnder("/");
    EXPECT_EQ(table.size(), 0u);

    // A path appended twice hides its earlier item from the map; removing the path takes both.
    ItemTable repeats;
    for (const IndexedItem& item : {fileItem("/d/a.txt"), fileItem("/d/b.txt"), fileItem("/d/a.txt", 2)})
        repeats.append(item);
    EXPECT_EQ(repeats.removeUnderAny({"/d/a.txt"}, nullptr), 2u);
    ASSERT_EQ(repeats.size(), 1u);
    EXPECT_EQ(repeats.find("/d/b.txt"), std::optional<std::uint32_t>(0));
}

} // namespace
} // namespace pallix
