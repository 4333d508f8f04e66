#include "UI/Search/SearchAssistRow.h"

#include <gtest/gtest.h>

#include <QCursor>
#include <QEnterEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "App/ModelTestSupport.h"
#include "UI/Search/SearchAssistChips.h"
#include "UI/Search/TermChip.h"

namespace pallix {

using namespace testing_support;

namespace {

using Style = SearchTermChipStyle;

QStringList texts(const QList<SearchTermChip>& chips, Style style)
{
    QStringList out;
    for (const SearchTermChip& chip : chips)
        if (chip.style == style)
            out << chip.text;
    return out;
}

TEST(SearchAssistChips, CommonTermsFirstThenTheHistoryWithoutThem)
{
    const SearchAssistContent c =
        composeSearchAssist({"报表", "Logo"}, {"logo", "报表", "合同", "合同", "Logo", "发票"}, QStringLiteral("x"));
    ASSERT_EQ(c.chips.size(), 5);
    EXPECT_EQ(c.chips[0], (SearchTermChip{QStringLiteral("报表"), Style::Common}));
    EXPECT_EQ(c.chips[1], (SearchTermChip{QStringLiteral("Logo"), Style::Common}));
    // Exact comparison: "logo" stays; a repeated history text shows once.
    EXPECT_EQ(texts(c.chips, Style::History), (QStringList{"logo", "合同", "发票"}));
    EXPECT_TRUE(c.showsSaveCurrent);
}

TEST(SearchAssistChips, AtMostFifteenHistoryChipsAndSaveCurrentOnlyWithText)
{
    QStringList history;
    for (int i = 0; i < 20; ++i)
        history << QStringLiteral("词%1").arg(i);
    const SearchAssistContent c = composeSearchAssist({"常用"}, history, QStringLiteral(" \n "));
    EXPECT_EQ(texts(c.chips, Style::History), history.mid(0, 15));
    EXPECT_FALSE(c.showsSaveCurrent);  // only white space

    // Every history entry a common term: only the common chips.
    EXPECT_EQ(composeSearchAssist({"a1", "b2"}, {"b2", "a1"}, QString()).chips.size(), 2);
    // Nothing at all: no row, and no "收藏当前" whatever the text.
    const SearchAssistContent none = composeSearchAssist({}, {}, QStringLiteral("合同"));
    EXPECT_TRUE(none.isEmpty());
    EXPECT_FALSE(none.showsSaveCurrent);
}

// A settings file holding 100,000 common terms (written by hand or by
// something else): the list is cut to the twelve a list may hold on load, and
// the row makes a widget for each chip it shows, never one per stored term.
TEST(SearchAssistRowLimits, AHundredThousandStoredTermsLoadAsTwelveChips)
{
    std::vector<std::string> stored;
    for (int i = 0; i < 100000; ++i)
        stored.push_back("常用词" + std::to_string(i));
    EXPECT_EQ(texts(composeSearchAssist(stored, {}, QString()).chips, Style::Common).size(), 12);

    ModelHarness h;
    h.preventStartUp();
    h.presetSettings([&](AppSettings& s) { s.commonSearchTerms = stored; });
    h.start();
    ASSERT_EQ(h.model->settings().commonSearchTerms,
              std::vector<std::string>(stored.begin(), stored.begin() + 12));
    SearchAssistRow row(h.model->searchSession(), h.model->settingsOperations());
    row.resize(600, 200);
    row.show();
    ASSERT_EQ(row.chips().size(), 12);
    EXPECT_EQ(row.chips().front()->chip().text, QStringLiteral("常用词0"));
    EXPECT_EQ(row.findChildren<TermChip*>().size(), 12);
}

class SearchAssistRowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        h.preventStartUp();
        h.presetSettings([](AppSettings& s) { s.commonSearchTerms = {"报表", "合同"}; });
        h.defaults->setStringList(SearchHistory::key(), {"发票", "合同", "季度总结", "发票"});
        h.start();
        row = std::make_unique<SearchAssistRow>(h.model->searchSession(), h.model->settingsOperations());
        row->resize(600, 200);
        row->show();
    }

    TermChip* chip(const QString& text, Style style) const
    {
        for (TermChip* c : row->chips())
            if (c->chip() == SearchTermChip{text, style})
                return c;
        return nullptr;
    }

    ModelHarness h;
    std::unique_ptr<SearchAssistRow> row;
};

TEST_F(SearchAssistRowTest, AClickSearchesForTheChipTextAtOnceAsIfTyped)
{
    h.model->searchSession().setSearchText(QStringLiteral("报表"));
    const auto generation = h.model->searchSession().searchGeneration();
    TermChip* common = chip(QStringLiteral("报表"), Style::Common);
    ASSERT_NE(common, nullptr);
    QTest::mouseClick(common, Qt::LeftButton, {}, QPoint(12, common->height() / 2));
    EXPECT_EQ(h.model->searchSession().searchGeneration(), generation + 1);  // also when the text is already the search text
    QTest::mouseClick(chip(QStringLiteral("季度总结"), Style::History), Qt::LeftButton);
    EXPECT_EQ(h.model->searchSession().searchText(), QStringLiteral("季度总结"));
    EXPECT_EQ(h.model->searchSession().searchGeneration(), generation + 2);
    EXPECT_TRUE(h.model->searchSession().typingClock().isTyping());
}

TEST_F(SearchAssistRowTest, HoverShowsTheDeleteButtonWhichDeletesWithoutActivating)
{
    TermChip* entry = chip(QStringLiteral("发票"), Style::History);
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->deleteButton()->isHidden());
    // Padding, icon and spacing around the text; 88 at least.
    const int natural = QFontMetrics(entry->font()).horizontalAdvance(QStringLiteral("发票")) + 10 + 11 + 6 + 10;
    EXPECT_EQ(entry->sizeHint().width(), std::max(88, natural));
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(entry, &enter);
    EXPECT_FALSE(entry->deleteButton()->isHidden());
    EXPECT_EQ(entry->sizeHint().width(), std::max(88, natural + 16));

    const auto generation = h.model->searchSession().searchGeneration();
    QSignalSpy activated(entry, &TermChip::clicked);
    QTest::mouseClick(entry->deleteButton(), Qt::LeftButton);
    EXPECT_EQ(activated.count(), 0);
    EXPECT_EQ(h.model->searchSession().searchGeneration(), generation);  // no search
    EXPECT_EQ(h.model->searchSession().searchText(), QString());
    // Only the first of the two entries goes, and the history is stored.
    EXPECT_EQ(h.model->searchSession().history().entries(), (QStringList{"合同", "季度总结", "发票"}));
    EXPECT_EQ(h.defaults->stringList(SearchHistory::key()),
              (std::vector<std::string>{"合同", "季度总结", "发票"}));
}

TEST_F(SearchAssistRowTest, TypingKeepsTheHoverOfTheChipUnderThePointerOnly)
{
    // The pointer on the first common chip, which history entries never move.
    TermChip* common = chip(QStringLiteral("报表"), Style::Common);
    TermChip* entry = chip(QStringLiteral("季度总结"), Style::History);
    ASSERT_NE(common, nullptr);
    ASSERT_NE(entry, nullptr);
    QCursor::setPos(common->mapToGlobal(common->rect().center()));
    const auto hover = [](TermChip* c) {
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(c, &enter);
    };
    hover(common);
    hover(entry);  // its leave is lost, as when the pointer stands still and chips move
    ASSERT_FALSE(common->deleteButton()->isHidden());
    // A word typed a letter at a time rewrites the newest entry, then adds one before it.
    h.model->searchSession().history().setEntries({"发票2", "合同", "季度总结", "发票"});
    h.model->searchSession().history().setEntries({"报告", "发票2024", "合同", "季度总结", "发票"});
    const auto shown = [&] {
        QStringList texts;
        for (TermChip* c : row->chips())
            if (c->chip().style == Style::History)
                texts.append(c->chip().text);
        return texts;
    };
    // Laid out again after the window's next paint.
    const QStringList typed{"报告", "发票2024", "季度总结", "发票"};  // 合同 is a common term
    EXPECT_TRUE(waitFor([&] { return shown() == typed; })) << shown().join(u' ').toStdString();
    TermChip* still = chip(QStringLiteral("报表"), Style::Common);
    ASSERT_NE(still, nullptr);
    EXPECT_TRUE(still->isHovered());
    EXPECT_FALSE(still->deleteButton()->isHidden());
    // The history chip the layout moved on shows no delete button the pointer is not on.
    TermChip* moved = chip(QStringLiteral("季度总结"), Style::History);
    ASSERT_NE(moved, nullptr);
    EXPECT_TRUE(waitFor([&] { return !moved->isHovered() && moved->deleteButton()->isHidden(); }));
    QTest::mouseClick(moved, Qt::LeftButton, {}, QPoint(12, moved->height() / 2));
    EXPECT_EQ(h.model->searchSession().searchText(), QStringLiteral("季度总结"));
}

TEST_F(SearchAssistRowTest, DeletingACommonChipRemovesThatTermOnly)
{
    TermChip* common = chip(QStringLiteral("合同"), Style::Common);
    ASSERT_NE(common, nullptr);
    EXPECT_EQ(chip(QStringLiteral("合同"), Style::History), nullptr);  // hidden behind the common term
    const auto generation = h.model->searchSession().searchGeneration();
    emit common->deleteRequested();
    EXPECT_EQ(h.model->settings().commonSearchTerms, (std::vector<std::string>{"报表"}));
    EXPECT_EQ(h.model->searchSession().history().entries().count(QStringLiteral("合同")), 1);
    EXPECT_EQ(h.model->searchSession().searchGeneration(), generation);
    // Its history entry shows again, as a history chip.
    ASSERT_TRUE(waitFor([&] { return chip(QStringLiteral("合同"), Style::History) != nullptr; }));
}

TEST_F(SearchAssistRowTest, SaveCurrentAndAddToCommonPutTheTermFirstAndKeepTwelve)
{
    EXPECT_TRUE(row->saveCurrentButton()->isHidden());
    h.model->searchSession().setSearchText(QStringLiteral("  年报 "));
    EXPECT_FALSE(row->saveCurrentButton()->isHidden());
    const auto generation = h.model->searchSession().searchGeneration();
    row->saveCurrentButton()->click();
    EXPECT_EQ(h.model->settings().commonSearchTerms.front(), "年报");

    emit chip(QStringLiteral("季度总结"), Style::History)->addToCommonRequested();
    EXPECT_EQ(h.model->settings().commonSearchTerms,
              (std::vector<std::string>{"季度总结", "年报", "报表", "合同"}));
    EXPECT_EQ(h.model->searchSession().searchGeneration(), generation);
    for (int i = 0; i < 9; ++i)
        h.model->searchSession().history().addCommonSearchTerm(QStringLiteral("词%1").arg(i));
    const auto& terms = h.model->settings().commonSearchTerms;
    ASSERT_EQ(terms.size(), 12u);  // the thirteenth dropped the oldest
    EXPECT_EQ(terms.front(), "词8");
    EXPECT_EQ(terms.back(), "报表");
    ASSERT_TRUE(waitFor([&] { return chip(QStringLiteral("词8"), Style::Common) == row->chips().front(); }));
}

TEST_F(SearchAssistRowTest, SaveCurrentFollowsTheChipsWhenTheHistoryGrowsUnderIt)
{
    h.model->searchSession().setSearchText(QStringLiteral("合"));
    ASSERT_FALSE(row->saveCurrentButton()->isHidden());
    const auto overlapsAChip = [&] {
        const QRect button = row->saveCurrentButton()->geometry();
        for (TermChip* c : row->chips())
            if (c->isVisible() && c->geometry().intersects(button))
                return true;
        return false;
    };
    // Growing one chip at a time moves the button along and, at some count, onto the next line.
    QStringList history;
    for (int i = 0; i < 8; ++i) {
        history.prepend(QStringLiteral("历史记录%1").arg(i));
        h.model->searchSession().history().setEntries(history);
        ASSERT_TRUE(waitFor([&] { return row->chips().size() == 2 + history.size(); }));
        EXPECT_TRUE(waitFor([&] { return !overlapsAChip(); })) << history.size() << " history chips";
    }
}

TEST_F(SearchAssistRowTest, EveryHistoryChipIsWideEnoughForItsWholeText)
{
    // The prefixes a typed word leaves in the history: widths rounded down
    // elided some of them ("lead_ch…" for "lead_chur").
    QStringList history;
    for (const QString& word : {QStringLiteral("lead_churn"), QStringLiteral("Quarterly Report"), QStringLiteral("发票_2024")})
        for (int n = 1; n <= word.size(); ++n)
            history.prepend(word.left(n));
    history = history.mid(0, 15);
    h.model->searchSession().history().setEntries(history);
    ASSERT_TRUE(waitFor([&] { return row->chips().size() == 2 + history.size(); }));
    // Room for text: the chip less its two paddings, its icon and the gap after it.
    constexpr int kAroundText = 10 + 11 + 6 + 10;
    for (TermChip* c : row->chips()) {
        const int room = c->sizeHint().width() - kAroundText;
        EXPECT_EQ(QFontMetrics(c->font()).elidedText(c->chip().text, Qt::ElideRight, room), c->chip().text)
            << c->chip().text.toStdString();
    }
}

TEST_F(SearchAssistRowTest, ManyChipsScrollInsideAtMost92AndNoChipsMeansNoRow)
{
    for (int i = 0; i < 12; ++i)
        h.model->searchSession().history().addCommonSearchTerm(QStringLiteral("常用词%1").arg(i));
    QStringList history;
    for (int i = 0; i < 15; ++i)
        history << QStringLiteral("历史记录%1").arg(i);
    h.model->searchSession().history().setEntries(history);
    row->resize(300, 400);
    ASSERT_TRUE(waitFor([&] { return row->chips().size() == 27; }));
    auto* scroll = row->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    EXPECT_EQ(scroll->height(), SearchAssistRow::kMaxChipsHeight);

    h.model->searchSession().history().removeCommonSearchTerm({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    h.model->searchSession().history().setEntries({});
    h.model->searchSession().setSearchText(QStringLiteral("合同"));
    EXPECT_TRUE(row->isHidden());
}

} // namespace
} // namespace pallix
