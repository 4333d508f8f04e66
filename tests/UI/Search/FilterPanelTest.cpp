#include "UI/Search/FilterPanel.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>

#include "App/ModelTestSupport.h"
#include "UI/Common/FilterTitles.h"
#include "UI/Search/FilterSummaryRow.h"
#include "UI/Search/SelectionChip.h"

namespace pallix {

using namespace testing_support;

namespace {

using F = SearchContentFilter;

class FilterPanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        h.preventStartUp();
        h.start();
        panel = std::make_unique<FilterPanel>(h.model->searchSession().constraints());
        panel->show();
    }

    // Clicks `chip` and answers how many searches that asked for.
    std::int64_t click(SelectionChip* chip)
    {
        const auto before = h.model->searchSession().searchGeneration();
        QTest::mouseClick(chip, Qt::LeftButton);
        return h.model->searchSession().searchGeneration() - before;
    }

    ModelHarness h;
    std::unique_ptr<FilterPanel> panel;
};

TEST_F(FilterPanelTest, ContentFiltersAreSeveralAtOnceAndAllStandsAlone)
{
    EXPECT_TRUE(panel->chip(F::All)->isSelected());
    EXPECT_EQ(click(panel->chip(F::Images)), 1);
    EXPECT_EQ(click(panel->chip(F::Documents)), 1);
    EXPECT_EQ(h.model->searchSession().constraints().contentFilters(), (std::set<F>{F::Images, F::Documents}));
    EXPECT_FALSE(panel->chip(F::All)->isSelected());
    EXPECT_TRUE(panel->chip(F::Documents)->isSelected());

    EXPECT_EQ(click(panel->chip(F::All)), 1);
    EXPECT_EQ(h.model->searchSession().constraints().contentFilters(), (std::set<F>{F::All}));
    click(panel->chip(F::Videos));
    click(panel->chip(F::Videos));  // the only one off again: back to all
    EXPECT_EQ(h.model->searchSession().constraints().contentFilters(), (std::set<F>{F::All}));
    EXPECT_TRUE(panel->chip(F::All)->isSelected());
}

TEST_F(FilterPanelTest, ANewSortFieldSortsAscendingAndTheSameFieldFlips)
{
    SelectionChip* direction = panel->directionChip();
    EXPECT_EQ(direction->text(), QStringLiteral("升序"));
    EXPECT_EQ(click(direction), 1);
    EXPECT_FALSE(h.model->searchSession().constraints().sortAscending());
    EXPECT_EQ(direction->text(), QStringLiteral("降序"));
    EXPECT_TRUE(direction->isSelected());  // always drawn selected

    EXPECT_EQ(click(panel->chip(SearchSortField::Size)), 1);
    EXPECT_EQ(h.model->searchSession().constraints().sortField(), SearchSortField::Size);
    EXPECT_TRUE(h.model->searchSession().constraints().sortAscending());
    EXPECT_TRUE(panel->chip(SearchSortField::Size)->isSelected());
    EXPECT_FALSE(panel->chip(SearchSortField::Name)->isSelected());

    EXPECT_EQ(click(panel->chip(SearchSortField::Size)), 1);
    EXPECT_EQ(h.model->searchSession().constraints().sortField(), SearchSortField::Size);
    EXPECT_FALSE(h.model->searchSession().constraints().sortAscending());
    EXPECT_EQ(direction->text(), QStringLiteral("降序"));

    EXPECT_EQ(click(direction) + click(direction), 2);  // twice: back where it was
    EXPECT_FALSE(h.model->searchSession().constraints().sortAscending());
}

TEST_F(FilterPanelTest, AMatchChipSearchesAlsoWhenItIsTheCurrentMode)
{
    EXPECT_EQ(click(panel->chip(SearchMatchMode::Contains)), 1);
    EXPECT_EQ(h.model->searchSession().constraints().matchMode(), SearchMatchMode::Contains);
    EXPECT_EQ(click(panel->chip(SearchMatchMode::Exact)), 1);
    EXPECT_EQ(h.model->searchSession().constraints().matchMode(), SearchMatchMode::Exact);
    EXPECT_TRUE(panel->chip(SearchMatchMode::Exact)->isSelected());
    EXPECT_FALSE(panel->chip(SearchMatchMode::Contains)->isSelected());
}

TEST(FilterTitles, TheSummaryListsTheFiltersInCodePointOrder)
{
    EXPECT_EQ(filtertitles::summary({F::Images, F::Videos, F::Documents}), QStringLiteral("当前筛选：图片、文档、视频"));
    EXPECT_EQ(filtertitles::summary({F::Executables, F::Folders}), QStringLiteral("当前筛选：可执行文件、文件夹"));
    EXPECT_EQ(filtertitles::summary({F::All}), QString());
}

TEST_F(FilterPanelTest, TheSummaryShowsOnlyCollapsedWithFiltersAndRestoreKeepsTheSort)
{
    QWidget view;
    auto& summary = *new FilterSummaryRow(h.model->searchSession().constraints(), &view);
    view.show();
    EXPECT_TRUE(summary.isHidden());  // {all}
    for (F f : {F::Images, F::Videos, F::Documents})
        h.model->searchSession().constraints().updateContentFilter(f);
    EXPECT_FALSE(summary.isHidden());
    EXPECT_EQ(summary.text(), QStringLiteral("当前筛选：图片、文档、视频"));
    summary.setPanelExpanded(true);
    EXPECT_TRUE(summary.isHidden());
    summary.setPanelExpanded(false);
    EXPECT_FALSE(summary.isHidden());

    h.model->searchSession().constraints().updateSort(SearchSortField::ModifiedAt);
    h.model->searchSession().constraints().toggleSortDirection();
    h.model->searchSession().constraints().applyMatchMode(SearchMatchMode::Prefix);
    h.model->searchSession().constraints().setCaseSensitive(true);
    summary.restoreButton()->click();
    EXPECT_EQ(h.model->searchSession().constraints().contentFilters(), (std::set<F>{F::All}));
    EXPECT_EQ(h.model->searchSession().constraints().matchMode(), SearchMatchMode::Contains);
    EXPECT_FALSE(h.model->searchSession().constraints().caseSensitive());
    EXPECT_EQ(h.model->searchSession().constraints().sortField(), SearchSortField::ModifiedAt);
    EXPECT_FALSE(h.model->searchSession().constraints().sortAscending());
    EXPECT_TRUE(summary.isHidden());
    EXPECT_TRUE(panel->chip(SearchMatchMode::Contains)->isSelected());
}

} // namespace
} // namespace pallix
