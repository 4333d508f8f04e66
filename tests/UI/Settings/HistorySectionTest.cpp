#include "UI/Settings/HistorySection.h"

#include <QAction>

#include "SettingsTestSupport.h"
#include "UI/Settings/ElidingLabel.h"
#include "UI/Settings/PathLists.h"

namespace pallix {
namespace {

using namespace testing_support;

struct HistorySectionTest : SettingsFixture {
    std::unique_ptr<HistorySection> section;
    void SetUp() override
    {
        SettingsFixture::SetUp();
        model().searchSession().history().setEntries({"报告", "合同", "报告"});
        section = std::make_unique<HistorySection>(model().searchSession(), model().settingsOperations());
        section->show();
    }
    void TearDown() override
    {
        section.reset();
        SettingsFixture::TearDown();
    }
    std::vector<std::string> storedHistory() const
    {
        return h.defaults->stringList(SearchHistory::key()).value_or(std::vector<std::string>{});
    }
};

TEST_F(HistorySectionTest, CaptionNamesTheFifteenEntriesKept)
{
    EXPECT_TRUE(HistorySection::caption().startsWith("历史记录最多保留 15 条"));
    for (int i = 0; i < 15; ++i)
        model().searchSession().history().recordIfNeeded(QStringLiteral("entry%1").arg(i));
    EXPECT_EQ(model().searchSession().history().entries().size(), 15);
    EXPECT_EQ(countButtonsTitled(section.get(), "删除"), 15);
}

TEST_F(HistorySectionTest, AddCurrentSearchFollowsTheTrimmedSearchText)
{
    QAbstractButton* add = section->addCurrentButton();
    model().searchSession().setSearchText(" \n ");
    EXPECT_FALSE(add->isEnabled());
    model().searchSession().setSearchText("  发票 ");
    ASSERT_TRUE(add->isEnabled());
    add->click();
    EXPECT_EQ(model().settings().commonSearchTerms, std::vector<std::string>{"发票"});
    EXPECT_EQ(section->termsList()->paths(), QStringList{"发票"});
    EXPECT_TRUE(section->termsList()->isVisibleTo(section.get()));
}

TEST_F(HistorySectionTest, RecentRowsKeepDeleteAndClear)
{
    ASSERT_EQ(countButtonsTitled(section.get(), "加入常用"), 3);
    buttonTitled(section.get(), "加入常用", 1)->click();
    EXPECT_EQ(model().settings().commonSearchTerms, std::vector<std::string>{"合同"});
    EXPECT_EQ(model().searchSession().history().entries().size(), 3);  // the recent list is left alone

    // "删除" on the last row removes the first equal entry and writes the list.
    buttonTitled(section.get(), "删除", 2)->click();
    EXPECT_EQ(model().searchSession().history().entries(), (QStringList{"合同", "报告"}));
    EXPECT_EQ(storedHistory(), (std::vector<std::string>{"合同", "报告"}));
    processPendingUi();
    EXPECT_EQ(countButtonsTitled(section.get(), "删除"), 2);

    buttonTitled(section.get(), "清除最近搜索")->click();
    EXPECT_TRUE(model().searchSession().history().entries().isEmpty());
    EXPECT_TRUE(storedHistory().empty());
    processPendingUi();
    EXPECT_FALSE(section->recentBlock()->isVisibleTo(section.get()));
    EXPECT_EQ(buttonTitled(section.get(), "清除最近搜索"), nullptr);
}

TEST_F(HistorySectionTest, RecentTextsLineUpWithTheirButtons)
{
    processPendingUi();
    for (int i = 0; i < 3; ++i) {
        QAbstractButton* remove = buttonTitled(section.get(), "删除", i);
        ASSERT_NE(remove, nullptr);
        auto* text = remove->parentWidget()->findChild<ElidingLabel*>();
        ASSERT_NE(text, nullptr);
        // The first line is drawn from the label's top, one line high.
        const int line = text->mapTo(section.get(), QPoint(0, text->fontMetrics().lineSpacing() / 2)).y();
        const int button = remove->mapTo(section.get(), remove->rect().center()).y();
        EXPECT_LE(std::abs(line - button), 1) << i;
    }
}

TEST_F(HistorySectionTest, CommonTermsListOrPlaceholder)
{
    EXPECT_FALSE(section->termsList()->isVisibleTo(section.get()));
    model().searchSession().history().addCommonSearchTerm("a1");
    model().searchSession().history().addCommonSearchTerm("b2");
    model().searchSession().history().addCommonSearchTerm("c3");
    EXPECT_EQ(section->termsList()->paths(), (QStringList{"c3", "b2", "a1"}));
    processPendingUi();
    const auto rows = section->termsList()->findChildren<PathRowCard*>();
    ASSERT_EQ(rows.size(), 3);
    rows[1]->actions()[0]->trigger();
    EXPECT_EQ(model().settings().commonSearchTerms, (std::vector<std::string>{"c3", "a1"}));
    EXPECT_EQ(SettingsStore(h.defaults).settings().commonSearchTerms, (std::vector<std::string>{"c3", "a1"}));
}

} // namespace
} // namespace pallix
