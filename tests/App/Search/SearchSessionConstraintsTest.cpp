#include "App/AppModel.h"

#include <gtest/gtest.h>

#include "App/ModelTestSupport.h"

namespace pallix {
namespace {

using namespace testing_support;
using Filters = std::set<SearchContentFilter>;

struct ConstraintsTest : testing::Test {
    ModelHarness h;
    void SetUp() override
    {
        h.preventStartUp();
        h.start();
    }
    AppModel& model() { return *h.model; }
};

TEST_F(ConstraintsTest, SortingTogglesTheDirectionOfTheSameFieldOnly)
{
    const auto before = model().searchSession().searchGeneration();
    model().searchSession().updateSort(SearchSortField::Name);
    EXPECT_FALSE(model().searchSession().sortAscending());
    model().searchSession().updateSort(SearchSortField::Name);
    EXPECT_TRUE(model().searchSession().sortAscending());

    model().searchSession().updateSort(SearchSortField::Name);
    model().searchSession().updateSort(SearchSortField::Size);
    EXPECT_EQ(model().searchSession().sortField(), SearchSortField::Size);
    EXPECT_TRUE(model().searchSession().sortAscending());
    EXPECT_EQ(model().searchSession().searchGeneration(), before + 4);  // each click searches again
    EXPECT_EQ(model().searchSession().currentQuerySnapshot().sortField, SearchSortField::Size);
}

TEST_F(ConstraintsTest, ContentFilterRules)
{
    using F = SearchContentFilter;
    const struct {
        const char* name;
        Filters start;
        F clicked;
        Filters expected;
    } cases[] = {
        {"a filter replaces all", {F::All}, F::Images, {F::Images}},
        {"a second filter joins", {F::Images}, F::Videos, {F::Images, F::Videos}},
        {"toggling one off keeps the other", {F::Images, F::Videos}, F::Images, {F::Videos}},
        {"toggling the only one off leaves all", {F::Images}, F::Images, {F::All}},
        {"all clears every other", {F::Images, F::Videos}, F::All, {F::All}},
        {"all again stays all", {F::All}, F::All, {F::All}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        model().searchSession().updateContentFilter(F::All);
        for (F f : c.start) {
            if (f != F::All)
                model().searchSession().updateContentFilter(f);
        }
        ASSERT_EQ(model().searchSession().contentFilters(), c.start);
        const auto before = model().searchSession().searchGeneration();
        model().searchSession().updateContentFilter(c.clicked);
        EXPECT_EQ(model().searchSession().contentFilters(), c.expected);
        EXPECT_EQ(model().searchSession().searchGeneration(), before + 1);
    }
}

TEST(GridZoom, Steps)
{
    const struct {
        double start;  // reached from 1.0 by steps inside the allowed range
        double delta;
        double expected;
    } cases[] = {
        {1.0, 3, 1.12},   // 3 x 0.018 is below the smallest step
        {1.0, 50, 1.28},  // capped at the largest step
        {1.0, -10, 0.82},
        {1.0, 0, 0.88},   // no delta zooms out
        {1.85, 3, 1.9},
        {0.75, -3, 0.7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.start << " by " << c.delta);
        ModelHarness h;
        h.preventStartUp();
        h.start();
        AppModel& m = *h.model;
        const double distance = c.start - 1.0;
        const int steps = static_cast<int>(std::ceil(std::abs(distance) / 0.25));
        for (int i = 0; i < steps; ++i)
            m.searchSession().adjustGridZoom(distance / steps / 0.018);
        ASSERT_NEAR(m.searchSession().gridZoom(), c.start, 1e-9);
        const auto before = m.searchSession().searchGeneration();
        m.searchSession().adjustGridZoom(c.delta);
        EXPECT_NEAR(m.searchSession().gridZoom(), c.expected, 1e-9);
        EXPECT_EQ(m.searchSession().searchGeneration(), before);  // zoom never searches
    }
}

TEST(GridZoom, StaysWithinItsRangeFromAnyStart)
{
    ModelHarness h;
    h.preventStartUp();
    h.start();
    for (int i = 0; i < 10; ++i)
        h.model->searchSession().adjustGridZoom(50);
    EXPECT_DOUBLE_EQ(h.model->searchSession().gridZoom(), 1.9);
    h.model->searchSession().adjustGridZoom(-3);
    h.model->searchSession().adjustGridZoom(3);  // 1.78 + 0.12, exactly the top again
    EXPECT_NEAR(h.model->searchSession().gridZoom(), 1.9, 1e-9);
    for (int i = 0; i < 20; ++i)
        h.model->searchSession().adjustGridZoom(-50);
    EXPECT_DOUBLE_EQ(h.model->searchSession().gridZoom(), 0.7);
    h.model->searchSession().adjustGridZoom(-1);
    EXPECT_DOUBLE_EQ(h.model->searchSession().gridZoom(), 0.7);
}

TEST_F(ConstraintsTest, ScopeIsStandardizedRecordedOnceAndAnnounced)
{
    model().searchSession().applyScopedPath("/data/docs/./", true);
    EXPECT_EQ(model().searchSession().scopedPath(), "/data/docs");
    EXPECT_EQ(model().statusMessage(), QString::fromUtf8("已切换到 docs"));
    model().searchSession().applyScopedPath("/data/x/../docs", true);
    EXPECT_EQ(model().searchSession().scopeHistory().size(), 2u) << "the same folder again adds no entry";

    const auto before = model().searchSession().searchGeneration();
    model().setStatusMessage("other");
    model().searchSession().applyScopedPath("/data/docs", true);
    EXPECT_EQ(model().statusMessage(), QString::fromUtf8("已切换到 docs"));
    EXPECT_EQ(model().searchSession().searchGeneration(), before + 1);
}

TEST_F(ConstraintsTest, ScopeHistoryOfTwoFoldersAndAClear)
{
    model().searchSession().applyScopedPath("/a", true);
    model().searchSession().applyScopedPath("/b", true);
    model().searchSession().applyScopedPath(QString(), true);
    EXPECT_EQ(model().searchSession().scopeHistory(), (std::vector<QString>{QString(), "/a", "/b", QString()}));
    EXPECT_EQ(model().searchSession().scopeHistoryIndex(), 3);
    EXPECT_TRUE(model().searchSession().scopedPath().isEmpty());
    EXPECT_EQ(model().statusMessage(), QString::fromUtf8("已回到全局搜索"));
}

TEST_F(ConstraintsTest, ClearingAnAbsentScopeDirectlyStillAnnouncesAndSearches)
{
    const auto before = model().searchSession().searchGeneration();
    model().searchSession().applyScopedPath(QString(), true);
    EXPECT_EQ(model().statusMessage(), QString::fromUtf8("已回到全局搜索"));
    EXPECT_EQ(model().searchSession().searchGeneration(), before + 1);
    EXPECT_EQ(model().searchSession().scopeHistory().size(), 1u);
}

TEST_F(ConstraintsTest, ScopeWithoutHistoryEndsAtOnceWhenUnchanged)
{
    model().searchSession().applyScopedPath("/a", false);
    EXPECT_EQ(model().searchSession().scopedPath(), "/a");
    EXPECT_EQ(model().searchSession().scopeHistory().size(), 1u);
    const auto before = model().searchSession().searchGeneration();
    model().setStatusMessage("other");
    model().searchSession().applyScopedPath("/a/", false);
    EXPECT_EQ(model().statusMessage(), "other");
    EXPECT_EQ(model().searchSession().searchGeneration(), before);
}

TEST_F(ConstraintsTest, ResetClearsScopeFiltersCaseAndModeButNotTextSortOrZoom)
{
    model().searchSession().setSearchText("alpha");
    model().searchSession().updateSort(SearchSortField::Size);
    model().searchSession().updateSort(SearchSortField::Size);
    model().searchSession().updateContentFilter(SearchContentFilter::Images);
    model().searchSession().setCaseSensitive(true);
    model().searchSession().setMatchMode(SearchMatchMode::Suffix);
    model().searchSession().adjustGridZoom(50);
    model().searchSession().applyScopedPath("/data/docs", true);

    const auto before = model().searchSession().searchGeneration();
    model().searchSession().resetSearchConstraints();
    EXPECT_TRUE(model().searchSession().scopedPath().isEmpty());
    EXPECT_EQ(model().statusMessage(), QString::fromUtf8("已回到全局搜索"));
    EXPECT_EQ(model().searchSession().contentFilters(), Filters{SearchContentFilter::All});
    EXPECT_FALSE(model().searchSession().caseSensitive());
    EXPECT_EQ(model().searchSession().matchMode(), SearchMatchMode::Contains);
    EXPECT_EQ(model().searchSession().searchText(), "alpha");
    EXPECT_EQ(model().searchSession().sortField(), SearchSortField::Size);
    EXPECT_FALSE(model().searchSession().sortAscending());
    EXPECT_NEAR(model().searchSession().gridZoom(), 1.28, 1e-9);
    EXPECT_EQ(model().searchSession().searchGeneration(), before + 2);  // the scope's search, then the reset's
}

TEST_F(ConstraintsTest, ResetSkipsTheScopeWhenThereWasNone)
{
    model().setStatusMessage("other");
    const auto before = model().searchSession().searchGeneration();
    model().searchSession().resetSearchConstraints();
    EXPECT_EQ(model().statusMessage(), "other");
    EXPECT_EQ(model().searchSession().searchGeneration(), before + 1);

    model().searchSession().applyScopedPath("/a", true);
    model().searchSession().applyScopedPath(QString(), true);
    model().setStatusMessage("other");
    model().searchSession().resetSearchConstraints();  // the history index says a scope was used
    EXPECT_EQ(model().statusMessage(), QString::fromUtf8("已回到全局搜索"));
}

} // namespace
} // namespace pallix
