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
    model().searchSession().constraints().updateSort(SearchSortField::Name);
    EXPECT_FALSE(model().searchSession().constraints().sortAscending());
    model().searchSession().constraints().updateSort(SearchSortField::Name);
    EXPECT_TRUE(model().searchSession().constraints().sortAscending());

    model().searchSession().constraints().updateSort(SearchSortField::Name);
    model().searchSession().constraints().updateSort(SearchSortField::Size);
    EXPECT_EQ(model().searchSession().constraints().sortField(), SearchSortField::Size);
    EXPECT_TRUE(model().searchSession().constraints().sortAscending());
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
        model().searchSession().constraints().updateContentFilter(F::All);
        for (F f : c.start) {
            if (f != F::All)
                model().searchSession().constraints().updateContentFilter(f);
        }
        ASSERT_EQ(model().searchSession().constraints().contentFilters(), c.start);
        const auto before = model().searchSession().searchGeneration();
        model().searchSession().constraints().updateContentFilter(c.clicked);
        EXPECT_EQ(model().searchSession().constraints().contentFilters(), c.expected);
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
            m.searchSession().constraints().adjustGridZoom(distance / steps / 0.018);
        ASSERT_NEAR(m.searchSession().constraints().gridZoom(), c.start, 1e-9);
        const auto before = m.searchSession().searchGeneration();
        m.searchSession().constraints().adjustGridZoom(c.delta);
        EXPECT_NEAR(m.searchSession().constraints().gridZoom(), c.expected, 1e-9);
        EXPECT_EQ(m.searchSession().searchGeneration(), before);  // zoom never searches
    }
}

TEST(GridZoom, StaysWithinItsRangeFromAnyStart)
{
    ModelHarness h;
    h.preventStartUp();
    h.start();
    for (int i = 0; i < 10; ++i)
        h.model->searchSession().constraints().adjustGridZoom(50);
    EXPECT_DOUBLE_EQ(h.model->searchSession().constraints().gridZoom(), 1.9);
    h.model->searchSession().constraints().adjustGridZoom(-3);
    h.model->searchSession().constraints().adjustGridZoom(3);  // 1.78 + 0.12, exactly the top again
    EXPECT_NEAR(h.model->searchSession().constraints().gridZoom(), 1.9, 1e-9);
    for (int i = 0; i < 20; ++i)
        h.model->searchSession().constraints().adjustGridZoom(-50);
    EXPECT_DOUBLE_EQ(h.model->searchSession().constraints().gridZoom(), 0.7);
    h.model->searchSession().constraints().adjustGridZoom(-1);
    EXPECT_DOUBLE_EQ(h.model->searchSession().constraints().gridZoom(), 0.7);
}

TEST_F(ConstraintsTest, ScopeIsStandardizedRecordedOnceAndAnnounced)
{
    model().searchSession().constraints().applyScopedPath("/data/docs/./", true);
    EXPECT_EQ(model().searchSession().constraints().scopedPath(), "/data/docs");
    EXPECT_EQ(model().statusMessage(), QString::fromUtf8("已切换到 docs"));
    model().searchSession().constraints().applyScopedPath("/data/x/../docs", true);
    EXPECT_EQ(model().searchSession().constraints().scopeHistory().size(), 2u) << "the same folder again adds no entry";

    const auto before = model().searchSession().searchGeneration();
    model().context().setStatusMessage("other");
    model().searchSession().constraints().applyScopedPath("/data/docs", true);
    EXPECT_EQ(model().statusMessage(), QString::fromUtf8("已切换到 docs"));
    EXPECT_EQ(model().searchSession().searchGeneration(), before + 1);
}

TEST_F(ConstraintsTest, ScopeHistoryOfTwoFoldersAndAClear)
{
    model().searchSession().constraints().applyScopedPath("/a", true);
    model().searchSession().constraints().applyScopedPath("/b", true);
    model().searchSession().constraints().applyScopedPath(QString(), true);
    EXPECT_EQ(model().searchSession().constraints().scopeHistory(), (std::vector<QString>{QString(), "/a", "/b", QString()}));
    EXPECT_EQ(model().searchSession().constraints().scopeHistoryIndex(), 3);
    EXPECT_TRUE(model().searchSession().constraints().scopedPath().isEmpty());
    EXPECT_EQ(model().statusMessage(), QString::fromUtf8("已回到全局搜索"));
}

TEST_F(ConstraintsTest, ClearingAnAbsentScopeDirectlyStillAnnouncesAndSearches)
{
    const auto before = model().searchSession().searchGeneration();
    model().searchSession().constraints().applyScopedPath(QString(), true);
    EXPECT_EQ(model().statusMessage(), QString::fromUtf8("已回到全局搜索"));
    EXPECT_EQ(model().searchSession().searchGeneration(), before + 1);
    EXPECT_EQ(model().searchSession().constraints().scopeHistory().size(), 1u);
}

TEST_F(ConstraintsTest, ScopeWithoutHistoryEndsAtOnceWhenUnchanged)
{
    model().searchSession().constraints().applyScopedPath("/a", false);
    EXPECT_EQ(model().searchSession().constraints().scopedPath(), "/a");
    EXPECT_EQ(model().searchSession().constraints().scopeHistory().size(), 1u);
    const auto before = model().searchSession().searchGeneration();
    model().context().setStatusMessage("other");
    model().searchSession().constraints().applyScopedPath("/a/", false);
    EXPECT_EQ(model().statusMessage(), "other");
    EXPECT_EQ(model().searchSession().searchGeneration(), before);
}

TEST_F(ConstraintsTest, ResetClearsScopeFiltersCaseAndModeButNotTextSortOrZoom)
{
    model().searchSession().setSearchText("alpha");
    model().searchSession().constraints().updateSort(SearchSortField::Size);
    model().searchSession().constraints().updateSort(SearchSortField::Size);
    model().searchSession().constraints().updateContentFilter(SearchContentFilter::Images);
    model().searchSession().constraints().setCaseSensitive(true);
    model().searchSession().constraints().setMatchMode(SearchMatchMode::Suffix);
    model().searchSession().constraints().adjustGridZoom(50);
    model().searchSession().constraints().applyScopedPath("/data/docs", true);

    const auto before = model().searchSession().searchGeneration();
    model().searchSession().constraints().resetSearchConstraints();
    EXPECT_TRUE(model().searchSession().constraints().scopedPath().isEmpty());
    EXPECT_EQ(model().statusMessage(), QString::fromUtf8("已回到全局搜索"));
    EXPECT_EQ(model().searchSession().constraints().contentFilters(), Filters{SearchContentFilter::All});
    EXPECT_FALSE(model().searchSession().constraints().caseSensitive());
    EXPECT_EQ(model().searchSession().constraints().matchMode(), SearchMatchMode::Contains);
    EXPECT_EQ(model().searchSession().searchText(), "alpha");
    EXPECT_EQ(model().searchSession().constraints().sortField(), SearchSortField::Size);
    EXPECT_FALSE(model().searchSession().constraints().sortAscending());
    EXPECT_NEAR(model().searchSession().constraints().gridZoom(), 1.28, 1e-9);
    EXPECT_EQ(model().searchSession().searchGeneration(), before + 2);  // the scope's search, then the reset's
}

TEST_F(ConstraintsTest, ResetSkipsTheScopeWhenThereWasNone)
{
    model().context().setStatusMessage("other");
    const auto before = model().searchSession().searchGeneration();
    model().searchSession().constraints().resetSearchConstraints();
    EXPECT_EQ(model().statusMessage(), "other");
    EXPECT_EQ(model().searchSession().searchGeneration(), before + 1);

    model().searchSession().constraints().applyScopedPath("/a", true);
    model().searchSession().constraints().applyScopedPath(QString(), true);
    model().context().setStatusMessage("other");
    model().searchSession().constraints().resetSearchConstraints();  // the history index says a scope was used
    EXPECT_EQ(model().statusMessage(), QString::fromUtf8("已回到全局搜索"));
}

} // namespace
} // namespace pallix
