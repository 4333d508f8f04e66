#include "App/Search/FolderOrdering.h"

#include <gtest/gtest.h>

#include "App/ModelTestSupport.h"

namespace pallix {
namespace {

using testing_support::fileItem;

IndexedItem folder(const std::string& path, Date modifiedAt = 1'700'000'000.0)
{
    const std::string name(paths::lastComponent(path));
    return IndexedItem(path, name, std::string(paths::deletingLastComponent(path)), "", 0, modifiedAt,
                       IndexedItem::ItemType::Folder);
}

std::vector<std::string> names(const QList<IndexedItem>& list)
{
    std::vector<std::string> out;
    for (const IndexedItem& item : list)
        out.emplace_back(item.name());
    return out;
}

SearchQuery byName()
{
    SearchQuery q;
    q.sortField = SearchSortField::Name;
    return q;
}

TEST(FolderOrdering, FoldersWithoutHintsGoByNameCaseInsensitivelyInTheirOwnPositions)
{
    const QList<IndexedItem> list{folder("/d/Beta"), fileItem("/d/z.txt"), folder("/d/alpha"), folder("/d/Gamma")};
    EXPECT_EQ(names(FolderOrdering::ordered(list, byName(), {})),
              (std::vector<std::string>{"alpha", "z.txt", "Beta", "Gamma"}));
}

TEST(FolderOrdering, VideoFoldersThenImageFoldersNewestFirstThenTheRest)
{
    const FolderHintCache hints{{"/d/pics-old", {false, true}},
                                {"/d/pics-new", {false, true}},
                                {"/d/both", {true, true}},
                                {"/d/empty", {false, false}}};
    const QList<IndexedItem> list{folder("/d/empty"), folder("/d/pics-old", 100.0), folder("/d/pics-new", 200.0),
                                  folder("/d/both"), folder("/d/unknown")};
    EXPECT_EQ(names(FolderOrdering::ordered(list, byName(), hints)),
              (std::vector<std::string>{"both", "pics-new", "pics-old", "empty", "unknown"}));
}

TEST(FolderOrdering, ImageFoldersWithEqualDatesFallBackToNameThenPath)
{
    const FolderHintCache hints{{"/b/Pics", {false, true}}, {"/a/pics", {false, true}}, {"/c/art", {false, true}}};
    const QList<IndexedItem> list{folder("/b/Pics", 5.0), folder("/a/pics", 5.0), folder("/c/art", 5.0)};
    const auto result = FolderOrdering::ordered(list, byName(), hints);
    EXPECT_EQ(result[0].path(), "/c/art");
    EXPECT_EQ(result[1].path(), "/a/pics");  // same name but for case: the path decides
    EXPECT_EQ(result[2].path(), "/b/Pics");
}

TEST(FolderOrdering, CategoriesFollowTheCachedHint)
{
    const FolderHintCache hints{{"/v", {true, true}}, {"/i", {false, true}}, {"/n", {false, false}}};
    EXPECT_EQ(FolderOrdering::folderCategory(folder("/v"), hints), 0);
    EXPECT_EQ(FolderOrdering::folderCategory(folder("/i"), hints), 1);
    EXPECT_EQ(FolderOrdering::folderCategory(folder("/n"), hints), 2);
    EXPECT_EQ(FolderOrdering::folderCategory(folder("/unknown"), hints), 2);
    EXPECT_EQ(FolderOrdering::folderCategory(fileItem("/v/a.mp4"), hints), 9);
}

TEST(FolderOrdering, UnchangedForOtherSortsLongListsAndListsWithoutFolders)
{
    const QList<IndexedItem> twoFolders{folder("/d/b"), folder("/d/a")};
    for (SearchSortField field : {SearchSortField::Path, SearchSortField::Size, SearchSortField::ModifiedAt}) {
        SearchQuery q;
        q.sortField = field;
        EXPECT_EQ(names(FolderOrdering::ordered(twoFolders, q, {})), (std::vector<std::string>{"b", "a"}));
    }

    QList<IndexedItem> longList{folder("/d/b"), folder("/d/a")};
    while (longList.size() < FolderOrdering::kMaxOrderedItems)
        longList.append(fileItem("/d/f" + std::to_string(longList.size())));
    EXPECT_EQ(FolderOrdering::ordered(longList, byName(), {})[0].name(), "a");  // 2600 is still ordered
    longList.append(fileItem("/d/last"));
    EXPECT_EQ(FolderOrdering::ordered(longList, byName(), {})[0].name(), "b");  // 2601 is not

    const QList<IndexedItem> files{fileItem("/d/b.txt"), fileItem("/d/a.txt")};
    EXPECT_EQ(names(FolderOrdering::ordered(files, byName(), {})), (std::vector<std::string>{"b.txt", "a.txt"}));
}

} // namespace
} // namespace pallix
