#include "UI/Results/ResultsModel.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include "ResultsTestSupport.h"

namespace pallix {
namespace {

using namespace testing_support;
using Kind = ResultsModel::RowKind;
using Section = ResultsModel::Section;

struct ResultsModelTest : testing::Test {
    ResultsFixture f;
    ResultsModel rows{f.model().searchSession()};
    QAbstractItemModelTester tester{&rows, QAbstractItemModelTester::FailureReportingMode::Fatal};

    // Kinds and sections of every row, as "h:fuzzy" etc.; items as "i:<section>".
    std::vector<std::string> shape() const
    {
        static const char* names[] = {"main", "fuzzy", "sku", "server"};
        static const char* kinds[] = {"i", "h", "d", "more"};
        std::vector<std::string> out;
        for (int r = 0; r < rows.rowCount(); ++r) {
            const auto& row = rows.rowAt(r);
            const std::string entry = std::string(kinds[int(row.kind)]) + ":" + names[int(row.section)];
            if (row.kind != Kind::Item || out.empty() || out.back() != entry)
                out.push_back(entry);
        }
        return out;
    }
    int itemRows(Section section) const
    {
        int n = 0;
        for (int r = 0; r < rows.rowCount(); ++r)
            n += rows.rowAt(r).kind == Kind::Item && rows.rowAt(r).section == section;
        return n;
    }
    int firstRow(Section section, Kind kind = Kind::Item) const
    {
        for (int r = 0; r < rows.rowCount(); ++r)
            if (rows.rowAt(r).kind == kind && rows.rowAt(r).section == section)
                return r;
        return -1;
    }
};

TEST_F(ResultsModelTest, SectionsInFixedOrderWithHeadersCountsAndQualifiedIds)
{
    f.model().searchSession().setServerResults(fileItems({"/s/a.txt"}));
    f.model().searchSession().setSkuRelatedResults(fileItems({"/k/a.png", "/k/b.png"}));
    f.model().searchSession().setImageFuzzyResults(fileItems({"/r/a.png"}));
    f.publishMain(fileItems({"/r/a.png", "/r/b.txt", "/r/c.txt"}));

    EXPECT_EQ(shape(), (std::vector<std::string>{"i:main", "d:fuzzy", "h:fuzzy", "i:fuzzy", "d:sku", "h:sku", "i:sku",
                                                 "d:server", "h:server", "i:server"}));
    const auto header = [&](Section s) { return rows.index(firstRow(s, Kind::SectionHeader)); };
    EXPECT_EQ(header(Section::ImageFuzzy).data(Qt::DisplayRole).toString(), "图片内容匹配（实验）");
    EXPECT_EQ(header(Section::SkuRelated).data(Qt::DisplayRole).toString(), "SKU 关联素材");
    EXPECT_EQ(header(Section::SkuRelated).data(ResultsModel::CountRole).toInt(), 2);
    EXPECT_EQ(header(Section::Server).data(Qt::DisplayRole).toString(), "共享盘结果");

    // The same file in two sections: distinct row ids, one bare path.
    const QModelIndex mainRow = rows.index(0);
    const QModelIndex fuzzyRow = rows.index(firstRow(Section::ImageFuzzy));
    EXPECT_EQ(mainRow.data(ResultsModel::RowIdRole).toString(), "/r/a.png");
    EXPECT_EQ(fuzzyRow.data(ResultsModel::RowIdRole).toString(), "fuzzy-/r/a.png");
    EXPECT_EQ(fuzzyRow.data(ResultsModel::PathRole).toString(), "/r/a.png");
    EXPECT_EQ(rows.index(firstRow(Section::Server)).data(ResultsModel::RowIdRole).toString(), "server-/s/a.txt");
    EXPECT_EQ(rows.index(firstRow(Section::SkuRelated)).data(ResultsModel::RowIdRole).toString(), "/k/a.png");

    // The scroll target of a path in two sections is the main row.
    EXPECT_EQ(ResultsModel::scrollTargetID(f.model().searchSession(), "/r/a.png"), "/r/a.png");
    EXPECT_EQ(rows.rowOfId("/r/a.png"), 0);
    EXPECT_EQ(rows.rowOfId("fuzzy-/r/a.png"), firstRow(Section::ImageFuzzy));
    EXPECT_EQ(ResultsModel::scrollTargetID(f.model().searchSession(), "/s/a.txt"), "server-/s/a.txt");
    EXPECT_EQ(ResultsModel::scrollTargetID(f.model().searchSession(), "/nowhere"), "");
}

TEST_F(ResultsModelTest, OnlySideSectionsLeaveNoMainRows)
{
    f.model().searchSession().setSkuRelatedResults(fileItems({"/k/a.png"}));
    EXPECT_EQ(shape(), (std::vector<std::string>{"d:sku", "h:sku", "i:sku"}));
    EXPECT_FALSE(rows.isEmpty());
}

TEST_F(ResultsModelTest, ImageContentMatchesAreCutAt600UntilShowMore)
{
    f.model().searchSession().setImageFuzzyResults(numberedFiles("f", 700, "png"));
    EXPECT_EQ(itemRows(Section::ImageFuzzy), 600);
    EXPECT_EQ(rows.index(firstRow(Section::ImageFuzzy, Kind::SectionHeader)).data(ResultsModel::CountRole).toInt(), 700);
    const int more = firstRow(Section::ImageFuzzy, Kind::ShowMore);
    ASSERT_GE(more, 0);
    EXPECT_EQ(rows.index(more).data(ResultsModel::CountRole).toInt(), 100);
    // The cut row is not there, so nothing scrolls to it.
    EXPECT_EQ(rows.rowOfId("fuzzy-/r/f650.png"), -1);

    rows.setShowAllFuzzy(true);
    EXPECT_EQ(itemRows(Section::ImageFuzzy), 700);
    EXPECT_EQ(firstRow(Section::ImageFuzzy, Kind::ShowMore), -1);
    // A new list keeps the choice; coming on screen again resets it.
    f.model().searchSession().setImageFuzzyResults(numberedFiles("g", 650, "png"));
    EXPECT_EQ(itemRows(Section::ImageFuzzy), 650);
    rows.setShowAllFuzzy(false);
    EXPECT_EQ(itemRows(Section::ImageFuzzy), 600);

    f.model().searchSession().setImageFuzzyResults(numberedFiles("h", 600, "png"));
    EXPECT_EQ(firstRow(Section::ImageFuzzy, Kind::ShowMore), -1);
}

TEST_F(ResultsModelTest, ParityContinuesAcrossSectionsAndCountsHiddenMatches)
{
    const auto alternate = [&](Section s) { return rows.rowAt(firstRow(s)).alternate; };
    f.model().searchSession().setSkuRelatedResults(fileItems({"/k/a.png"}));
    f.model().searchSession().setServerResults(fileItems({"/s/a.txt"}));
    f.model().searchSession().setImageFuzzyResults(fileItems({"/f/a.png", "/f/b.png"}));
    f.publishMain(fileItems({"/r/a", "/r/b", "/r/c"}));
    EXPECT_FALSE(rows.rowAt(0).alternate);
    EXPECT_TRUE(rows.rowAt(1).alternate);
    EXPECT_TRUE(alternate(Section::ImageFuzzy));   // row 3
    EXPECT_TRUE(alternate(Section::SkuRelated));   // row 5
    EXPECT_TRUE(alternate(Section::Server));       // SKU rows not counted: row 5
    f.model().searchSession().setImageFuzzyResults({});
    EXPECT_TRUE(alternate(Section::SkuRelated));   // row 3
    f.publishMain(fileItems({"/r/a", "/r/b"}));
    EXPECT_FALSE(alternate(Section::SkuRelated));  // row 2
    EXPECT_FALSE(alternate(Section::Server));

    // The 101 matches behind the button still count: 2 + 701 is odd.
    f.model().searchSession().setImageFuzzyResults(numberedFiles("f", 701, "png"));
    EXPECT_TRUE(alternate(Section::Server));
}

TEST_F(ResultsModelTest, InlineActionsUpTo120MainResults)
{
    f.publishMain(numberedFiles("a", 120));
    EXPECT_TRUE(rows.showsInlineActions());
    f.publishMain(numberedFiles("a", 121));
    EXPECT_FALSE(rows.showsInlineActions());
}

TEST_F(ResultsModelTest, ContentFilterRules)
{
    const auto passes = [](const IndexedItem& item, std::set<SearchContentFilter> filters) {
        return ResultsModel::passesContentFilters(item, filters);
    };
    using F = SearchContentFilter;
    const IndexedItem folder = fileItem("/r/dir", true);
    const IndexedItem png = fileItem("/r/a.png");
    const IndexedItem docx = fileItem("/r/a.docx");
    const IndexedItem odd = fileItem("/r/a.qqq");
    const IndexedItem bare = fileItem("/r/README");
    const IndexedItem zip = fileItem("/r/a.zip");
    const IndexedItem mp4 = fileItem("/r/a.mp4");

    EXPECT_TRUE(passes(folder, {F::Images, F::Folders}));
    EXPECT_TRUE(passes(png, {F::Images, F::Folders}));
    EXPECT_FALSE(passes(docx, {F::Images, F::Folders}));

    EXPECT_TRUE(passes(docx, {F::Documents}));
    EXPECT_TRUE(passes(odd, {F::Documents}));
    EXPECT_FALSE(passes(png, {F::Documents}));
    EXPECT_FALSE(passes(bare, {F::Documents}));
    EXPECT_FALSE(passes(folder, {F::Documents}));

    EXPECT_TRUE(passes(png, {F::Normal}));
    EXPECT_TRUE(passes(docx, {F::Normal}));
    EXPECT_TRUE(passes(bare, {F::Normal}));
    EXPECT_FALSE(passes(zip, {F::Normal}));
    EXPECT_FALSE(passes(folder, {F::Normal}));
    EXPECT_TRUE(passes(zip, {F::Archives}));
    EXPECT_TRUE(passes(mp4, {F::Videos}));

    for (const IndexedItem& item : {folder, png, docx, bare, zip})
        EXPECT_TRUE(passes(item, {F::All, F::Images}) && passes(item, {}));

    // Every list filtered out: the area is empty although the lists are not.
    f.model().searchSession().constraints().updateContentFilter(F::Videos);
    f.model().searchSession().setImageFuzzyResults(fileItems({"/r/b.png"}));
    f.publishMain(fileItems({"/r/a.txt"}));
    EXPECT_TRUE(rows.isEmpty());
    EXPECT_EQ(rows.rowCount(), 0);
}

TEST_F(ResultsModelTest, OneResetPerPublishedList)
{
    QSignalSpy resets(&rows, &QAbstractItemModel::modelReset);
    f.model().searchSession().setImageFuzzyResults(fileItems({"/f/a.png"}));
    f.model().searchSession().setSkuRelatedResults(fileItems({"/k/a.png"}));
    f.model().searchSession().setServerResults(fileItems({"/s/a.png"}));
    EXPECT_EQ(resets.count(), 3);
    f.publishMain(numberedFiles("a", 10));  // also publishes the selection
    EXPECT_EQ(resets.count(), 4);
    rows.setShowAllFuzzy(true);
    EXPECT_EQ(resets.count(), 5);
    rows.setShowAllFuzzy(true);  // unchanged: nothing
    f.model().searchSession().setSelectedItemID("/r/a3.txt");
    EXPECT_EQ(resets.count(), 5);
}

} // namespace
} // namespace pallix
