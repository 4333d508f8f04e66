#include "UI/Settings/SettingsChrome.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include "SettingsTestSupport.h"
#include "UI/Settings/ElidingLabel.h"
#include "UI/Settings/HotKeyRecorder.h"
#include "UI/Settings/HotKeyRow.h"
#include "UI/Settings/PathLists.h"
#include "UI/Settings/SettingsWindow.h"

namespace pallix {
namespace {

using namespace testing_support;

// Counts the key presses that reach a window, as the search window's key
// handling would see them.
struct KeyCounter : QObject {
    int presses = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        presses += event->type() == QEvent::KeyPress;
        return false;
    }
};

struct SettingsSheetTest : SettingsFixture {
    QWidget searchWindow;
    QLineEdit* searchField = new QLineEdit(&searchWindow);

    void SetUp() override
    {
        SettingsFixture::SetUp();
        searchWindow.resize(900, 700);
        searchWindow.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&searchWindow));
    }
    void TearDown() override
    {
        // The sheets close themselves before the model goes.
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qobject_cast<SettingsView*>(w))
                delete w;
        }
        SettingsFixture::TearDown();
    }
};

TEST_F(SettingsSheetTest, SheetIsItsOwnWindowAndKeepsEveryKeyFromTheSearchWindow)
{
    KeyCounter counter;
    searchWindow.installEventFilter(&counter);
    searchField->installEventFilter(&counter);

    SettingsView* sheet = SettingsWindow::showSheet(model(), &searchWindow);
    ASSERT_TRUE(sheet->isWindow());
    EXPECT_EQ(sheet->parentWidget(), &searchWindow);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(SettingsWindow::showSheet(model(), &searchWindow), sheet);  // one sheet only
    EXPECT_TRUE(waitFor([&] { return QApplication::activeWindow() == sheet; }));

    sheet->pathField()->setFocus();
    QTest::keyClicks(QApplication::focusWidget(), "a b");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(sheet->pathField()->text(), "a b ");
    EXPECT_EQ(counter.presses, 0);
    EXPECT_TRUE(model().settings().indexedRoots.empty());
}

// The window manager's title bar closes, minimises and maximises: the header
// draws no buttons of its own, and its caption is text, not a control.
TEST_F(SettingsSheetTest, HeaderHasNoWindowButtonsAndTheFramesCloseDismissesTheSheet)
{
    SettingsView* sheet = SettingsWindow::showSheet(model(), &searchWindow);
    EXPECT_TRUE(sheet->header()->findChildren<QAbstractButton*>().isEmpty());
    QStringList texts;
    for (QLabel* label : sheet->header()->findChildren<QLabel*>()) {
        texts << label->text();
        EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
        EXPECT_EQ(label->cursor().shape(), Qt::ArrowCursor);
    }
    EXPECT_EQ(texts, (QStringList{QStringLiteral("设置"), QStringLiteral("简单模式")}));

    QPointer<SettingsView> guard(sheet);
    EXPECT_TRUE(sheet->close());  // what the frame's close button does
    EXPECT_TRUE(waitFor([&] { processPendingUi(); return guard.isNull(); }));
    EXPECT_TRUE(searchWindow.isVisible());
}

TEST_F(SettingsSheetTest, TheSettingsWindowActsOnItselfAndIsReusedUntilClosed)
{
    SettingsView* window = SettingsWindow::showFor(model());
    EXPECT_TRUE(window->isWindow());
    EXPECT_EQ(window->parentWidget(), nullptr);
    EXPECT_EQ(SettingsWindow::showFor(model()), window);

    QPointer<SettingsView> guard(window);
    window->closeButton()->click();
    EXPECT_TRUE(waitFor([&] { processPendingUi(); return guard.isNull(); }));
    SettingsView* again = SettingsWindow::showFor(model());
    EXPECT_TRUE(again->pathField()->text().isEmpty());
}

// Ctrl+W closes the settings, in a window of its own or as a sheet; the
// search window under the sheet stays, and while a hot key is being
// recorded Ctrl+W is that key.
TEST_F(SettingsSheetTest, CtrlWClosesTheSettingsWindowAndTheSheet)
{
    QPointer<SettingsView> window = SettingsWindow::showFor(model());
    ASSERT_TRUE(waitFor([&] { return QApplication::activeWindow() == window; }));
    QTest::keyClick(window->pathField(), Qt::Key_W, Qt::ControlModifier);
    EXPECT_TRUE(waitFor([&] { processPendingUi(); return window.isNull(); }));

    QPointer<SettingsView> sheet = SettingsWindow::showSheet(model(), &searchWindow);
    ASSERT_TRUE(waitFor([&] { return QApplication::activeWindow() == sheet; }));
    sheet->hotKeyRow()->recordButton()->click();
    ASSERT_TRUE(waitFor([&] { return QApplication::focusWidget() == sheet->hotKeyRow()->recorder(); }));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_W, Qt::ControlModifier);
    EXPECT_EQ(model().settings().globalHotKey, (GlobalHotKey{13, GlobalHotKey::kControl}));
    processPendingUi();
    ASSERT_FALSE(sheet.isNull());

    QTest::keyClick(sheet->pathField(), Qt::Key_W, Qt::ControlModifier);
    EXPECT_TRUE(waitFor([&] { processPendingUi(); return sheet.isNull(); }));
    EXPECT_TRUE(searchWindow.isVisible());
}

// Path lists.

std::vector<QWidget*> rowsOf(QWidget* list)
{
    std::vector<QWidget*> rows;
    for (QWidget* row : list->findChildren<PathRowCard*>(Qt::FindDirectChildrenOnly)) {
        if (row->isVisibleTo(list))
            rows.push_back(row);
    }
    return rows;
}

TEST(PathLists, RemovingTheThirdRowAsksForOffsetTwoByButtonAndByMenu)
{
    std::vector<std::set<int>> removals;
    RemovablePathList list("空", "不再索引此目录", [&](const std::set<int>& offsets) { removals.push_back(offsets); });
    list.setPaths({"/a", "/b", "/c", "/d"});
    const auto rows = rowsOf(&list);
    ASSERT_EQ(rows.size(), 4u);

    auto* trash = rows[2]->findChild<QToolButton*>();
    ASSERT_NE(trash, nullptr);
    EXPECT_EQ(trash->toolTip(), "不再索引此目录");
    trash->click();
    ASSERT_EQ(rows[2]->actions().size(), 1);
    EXPECT_EQ(rows[2]->contextMenuPolicy(), Qt::ActionsContextMenu);
    EXPECT_EQ(rows[2]->actions()[0]->text(), "不再索引此目录");
    rows[2]->actions()[0]->trigger();
    EXPECT_EQ(removals, (std::vector<std::set<int>>{{2}, {2}}));
}

TEST(PathLists, EmptyListShowsItsTextInACardAndRowsFollowThePaths)
{
    CompactPathList list("暂无自动发现的磁盘");
    ASSERT_EQ(rowsOf(&list).size(), 1u);
    EXPECT_EQ(rowsOf(&list)[0]->findChild<QLabel*>()->text(), "暂无自动发现的磁盘");
    list.setPaths({"/x", "/y"});
    processPendingUi();
    EXPECT_EQ(rowsOf(&list).size(), 2u);
    list.setPaths({});
    processPendingUi();
    ASSERT_EQ(rowsOf(&list).size(), 1u);
    EXPECT_NE(rowsOf(&list)[0]->findChild<QLabel*>(), nullptr);
}

TEST(ElidingLabel, LongPathsAreCutToTheirLineCount)
{
    const QString path = "/home/user/" + QString("very-long-folder-name/").repeated(12) + "end";
    ElidingLabel one(path, 1);
    ElidingLabel two(path, 2);
    const QStringList oneLine = one.linesFor(200);
    const QStringList twoLines = two.linesFor(200);
    ASSERT_EQ(oneLine.size(), 1);
    EXPECT_TRUE(oneLine[0].endsWith(QChar(0x2026)));
    ASSERT_EQ(twoLines.size(), 2);
    EXPECT_TRUE(twoLines[1].endsWith(QChar(0x2026)));
    EXPECT_TRUE(path.startsWith(twoLines[0]));
    EXPECT_EQ(two.heightForWidth(200), 2 * two.fontMetrics().lineSpacing());
    // A short text keeps one line, uncut.
    EXPECT_EQ(two.linesFor(2000), QStringList{path});
}

} // namespace
} // namespace pallix
