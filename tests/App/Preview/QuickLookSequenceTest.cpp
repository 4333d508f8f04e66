#include "App/Preview/QuickLookSequence.h"

#include <gtest/gtest.h>

#include "App/ModelTestSupport.h"

namespace pallix {
namespace {

using testing_support::fileItem;
using Kind = QuickLookSequence::Kind;

QList<IndexedItem> items(std::initializer_list<std::string> paths)
{
    QList<IndexedItem> list;
    for (const std::string& p : paths)
        list.append(fileItem(p));
    return list;
}

std::vector<std::string> names(const QList<IndexedItem>& list)
{
    std::vector<std::string> out;
    for (const IndexedItem& item : list)
        out.emplace_back(item.name());
    return out;
}

QList<IndexedItem> build(const IndexedItem& selected, const QList<IndexedItem>& results,
                         const QList<IndexedItem>& images = {}, const QList<IndexedItem>& sku = {},
                         const QList<IndexedItem>& server = {}, int limit = 200)
{
    return QuickLookSequence::build(selected, *QuickLookSequence::kindOf(selected), limit, results, images, sku, server);
}

TEST(QuickLookSequence, KindsAndLimits)
{
    EXPECT_EQ(QuickLookSequence::kindOf(fileItem("/a/x.PNG")), std::nullopt) << "extensions arrive lower-cased";
    EXPECT_EQ(QuickLookSequence::kindOf(fileItem("/a/x.png")), Kind::Image);
    EXPECT_EQ(QuickLookSequence::kindOf(fileItem("/a/x.mp4")), Kind::Video);
    EXPECT_EQ(QuickLookSequence::kindOf(fileItem("/a/x.pdf")), std::nullopt);
    EXPECT_EQ(QuickLookSequence::perFolderLimit(Kind::Image), 200);
    EXPECT_EQ(QuickLookSequence::perFolderLimit(Kind::Video), 120);
}

TEST(QuickLookSequence, OnlyTheSelectedFoldersItemsOfTheSameKind)
{
    const IndexedItem selected = fileItem("/f/b.png");
    const auto sequence =
        build(selected, items({"/f/b.png", "/f/a.mp4", "/g/c.png", "/f/notes.txt"}), items({"/f/b.png", "/f/d.jpg"}),
              items({"/f/e.png"}), items({"/f/f.png"}));
    EXPECT_EQ(names(sequence), (std::vector<std::string>{"b.png", "d.jpg", "e.png", "f.png"}));

    const IndexedItem alone = fileItem("/h/only.png");
    EXPECT_EQ(names(build(alone, items({"/h/only.png", "/g/c.png"}))), std::vector<std::string>{"only.png"});
}

TEST(QuickLookSequence, NumbersSortByValueAndCaseIsIgnored)
{
    const IndexedItem selected = fileItem("/f/img10.png");
    EXPECT_EQ(names(build(selected, items({"/f/img10.png", "/f/IMG1.png", "/f/img2.png"}))),
              (std::vector<std::string>{"IMG1.png", "img2.png", "img10.png"}));
}

TEST(QuickLookSequence, SelectedItemBeyondTheScannedPartIsAddedAndSortedIn)
{
    QList<IndexedItem> results;
    for (int i = 0; i < 1500; ++i)
        results.append(fileItem("/other/x" + std::to_string(i) + ".txt"));
    results[3] = fileItem("/f/b.png");
    results.append(fileItem("/f/a.png"));  // position 1500: never scanned
    const auto sequence = build(fileItem("/f/a.png"), results);
    EXPECT_EQ(names(sequence), (std::vector<std::string>{"a.png", "b.png"}));
}

TEST(QuickLookSequence, PerFolderLimitKeepsTheFirstMet)
{
    QList<IndexedItem> results;
    for (int i = 0; i < 250; ++i)
        results.append(fileItem("/f/p" + std::to_string(1000 + i) + ".png"));
    const auto met = build(results[10], results);
    ASSERT_EQ(met.size(), 200);
    EXPECT_EQ(met.back().name(), "p1199.png");

    const auto unmet = build(fileItem("/f/zzz.png"), results);
    ASSERT_EQ(unmet.size(), 201);
    EXPECT_EQ(unmet.back().name(), "zzz.png");
}

} // namespace
} // namespace pallix
