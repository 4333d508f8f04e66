#include "UI/Results/ResultContextMenu.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "ResultsTestSupport.h"
#include "UI/Results/ResultsArea.h"
#include "UI/Results/ResultsGridView.h"
#include "UI/Results/ResultsListView.h"

namespace pallix {
namespace {

using namespace testing_support;

// The entries' titles top to bottom, a separator as "-".
QStringList titles(const QMenu& menu)
{
    QStringList out;
    for (const QAction* action : menu.actions())
        out.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return out;
}

TEST(ResultContextMenu, EntriesForAFolderAndAFile)
{
    const QStringList common{"打开",     "打开上级文件夹", "在文件管理器中显示",
                             "-",        "复制名称",       "复制路径",
                             "拷贝项目（可在文件管理器粘贴）", "-",
                             "重命名",   "制作副本",       "-",
                             "移到回收站"};
    ResultContextMenu folder(fileItem("/r/photos", true));
    ResultContextMenu file(fileItem("/r/photos/a.jpg"));
    EXPECT_EQ(titles(folder), QStringList{"进入此文件夹范围"} + common);
    EXPECT_EQ(titles(file), QStringList{"进入上级文件夹范围"} + common);
    for (const QAction* action : file.actions()) {
        EXPECT_EQ(ResultContextMenu::isDestructive(action), action->text() == "移到回收站");
        EXPECT_TRUE(action->isEnabled());
        EXPECT_TRUE(action->shortcut().isEmpty());
    }
}

struct ResultsContextMenuTest : testing::Test {
    ResultsFixture f;
    ResultsArea area{f.model().searchSession(), nullptr, f.h.thumbnails};
    void SetUp() override
    {
        area.resize(1300, 700);
        area.show();
    }
    void TearDown() override
    {
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
    }
    // A secondary click on the row's centre; the menu it opened, if any.
    ResultContextMenu* rightClick(ResultsCanvas* canvas, int row)
    {
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
        const QPoint pos = canvas->rowRect(row).center() - QPoint(0, canvas->verticalScrollBar()->value());
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, canvas->viewport()->mapToGlobal(pos));
        QApplication::sendEvent(canvas->viewport(), &event);
        return qobject_cast<ResultContextMenu*>(QApplication::activePopupWidget());
    }
};

TEST_F(ResultsContextMenuTest, EveryEntryActsOnTheItemClickedWhateverIsSelected)
{
    f.model().searchSession().constraints().setDisplayMode(ResultDisplayMode::List);
    f.publishMain(numberedFiles("a", 4, "jpg"));
    f.model().searchSession().setSelectedItemID("/r/a0.jpg");
    ResultContextMenu* menu = rightClick(area.listView(), 2);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(f.model().searchSession().selectedItemID(), "/r/a0.jpg");  // the click selects nothing

    using Signal = void (ResultsArea::*)(const IndexedItem&);
    const std::vector<Signal> expected{
        &ResultsArea::scopeToItemRequested, &ResultsArea::openItemRequested,  &ResultsArea::openParentRequested,
        &ResultsArea::revealItemRequested,  &ResultsArea::copyNameRequested,  &ResultsArea::copyPathRequested,
        &ResultsArea::copyFileRequested,    &ResultsArea::renameRequested,    &ResultsArea::duplicateRequested,
        &ResultsArea::moveToTrashRequested};
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (Signal signal : expected)
        spies.push_back(std::make_unique<QSignalSpy>(&area, signal));
    std::vector<QAction*> entries;
    for (QAction* action : menu->actions())
        if (!action->isSeparator())
            entries.push_back(action);
    ASSERT_EQ(entries.size(), expected.size());

    for (std::size_t i = 0; i < entries.size(); ++i) {
        // The results change under the open menu: the entry keeps its item.
        f.publishMain(numberedFiles("b", 2, "png"));
        entries[i]->trigger();
        for (std::size_t j = 0; j < spies.size(); ++j)
            EXPECT_EQ(spies[j]->count(), j <= i ? 1 : 0) << "entry " << i << ", signal " << j;
        EXPECT_EQ(qvariant_cast<IndexedItem>(spies[i]->at(0).at(0)).path(), "/r/a2.jpg");
    }
}

TEST_F(ResultsContextMenuTest, CardsHaveTheMenuAndSkuRowsNone)
{
    f.model().searchSession().constraints().setDisplayMode(ResultDisplayMode::Grid);
    f.publishMain(ItemList{fileItem("/r/dir", true)});
    f.model().searchSession().setSkuRelatedResults(fileItems({"/k/a.png"}));
    f.model().searchSession().setServerResults(fileItems({"/s/b.png"}));
    ResultsModel& rows = area.resultsModel();
    const auto rowOf = [&](const char* id) { return rows.rowOfId(QString::fromLatin1(id)); };

    ResultContextMenu* menu = rightClick(area.gridView(), rowOf("/r/dir"));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->item().path(), "/r/dir");
    EXPECT_EQ(menu->actions().front()->text(), "进入此文件夹范围");
    menu = rightClick(area.gridView(), rowOf("server-/s/b.png"));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->item().path(), "/s/b.png");
    EXPECT_EQ(rightClick(area.gridView(), rowOf("/k/a.png")), nullptr);

    f.model().searchSession().constraints().setDisplayMode(ResultDisplayMode::List);
    EXPECT_EQ(rightClick(area.listView(), rowOf("/k/a.png")), nullptr);
    EXPECT_NE(rightClick(area.listView(), rowOf("/r/dir")), nullptr);
}

} // namespace
} // namespace pallix
