// The names and folders of the results, and the names and subtitles of the
// cards, selected with the mouse and copied with Ctrl+C, in the list and the grid.

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDrag>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

#include "ResultsTestSupport.h"
#include "UI/Common/CardPainting.h"
#include "UI/Common/SelectableLabel.h"
#include "UI/Results/ListColumns.h"
#include "UI/Results/ResultsArea.h"
#include "UI/Results/ResultsGridView.h"
#include "UI/Results/ResultsListView.h"

namespace pallix {
namespace {

using namespace testing_support;

// The area in a window with another field and a window-wide Ctrl+C command.
struct SelectableTextsTest : testing::TestWithParam<ResultDisplayMode> {
    ResultsFixture f;
    QWidget window;
    QLineEdit* other = new QLineEdit(&window);
    ResultsArea* area = new ResultsArea(f.model().searchSession(), nullptr, f.h.thumbnails, &window);
    QAction* windowCopy = new QAction(&window);
    int windowCopies = 0;
    const ItemList items = fileItems({"/r/alpha beta 0.txt", "/r/alpha beta 1.txt", "/r/alpha beta 2.txt"});

    void SetUp() override
    {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(other);
        layout->addWidget(area, 1);
        windowCopy->setShortcut(QKeySequence::Copy);
        window.addAction(windowCopy);
        QObject::connect(windowCopy, &QAction::triggered, [this] { ++windowCopies; });
        window.resize(1300, 700);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        // Off the window: a move onto a row is a move, whatever an earlier test left.
        QCursor::setPos(window.frameGeometry().bottomRight() + QPoint(40, 40));
        f.model().searchSession().constraints().setDisplayMode(GetParam());
        f.publishMain(items);
    }
    ResultsCanvas* view() const
    {
        return GetParam() == ResultDisplayMode::List ? static_cast<ResultsCanvas*>(area->listView())
                                                     : static_cast<ResultsCanvas*>(area->gridView());
    }
    // Where the user sees the row's name, in the viewport.
    QPoint namePoint(int row) const
    {
        const QRect name = view()->nameRect(row).translated(0, -view()->verticalScrollBar()->value());
        return QPoint(name.left() + 2, name.top() + name.height() / 3);
    }
    // The widget a press at the name lands on.
    SelectableLabel* labelOverName(int row) const
    {
        return qobject_cast<SelectableLabel*>(view()->viewport()->childAt(namePoint(row)));
    }
    // Presses before the label's text and drags to the end of its first `count` characters.
    void dragSelect(SelectableLabel* label, int count) const
    {
        const QFontMetrics metrics(label->font());
        // The grid centres its texts.
        const double offset =
            GetParam() == ResultDisplayMode::List ? 0 : (label->width() - metrics.horizontalAdvance(label->text())) / 2.0;
        const QPoint end(static_cast<int>(std::lround(offset)) + metrics.horizontalAdvance(label->text().left(count)),
                         metrics.height() / 2);
        QTest::mousePress(label, Qt::LeftButton, {}, QPoint(0, end.y()));
        QTest::mouseMove(label, end);
        QTest::mouseRelease(label, Qt::LeftButton, {}, end);
    }
};

TEST_P(SelectableTextsTest, DraggingOverANameSelectsItsCharactersAndCtrlCCopiesThem)
{
    // The pointer over a row that is not selected: its name is a label there;
    // a press on it selects the row, the drag selects characters.
    QTest::mouseMove(view()->viewport(), namePoint(1));
    SelectableLabel* name = labelOverName(1);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->text(), "alpha beta 1.txt");
    dragSelect(name, 5);
    EXPECT_EQ(f.model().searchSession().selectedItemID(), "/r/alpha beta 1.txt");
    EXPECT_EQ(name->selectedText(), "alpha");
    EXPECT_EQ(view()->findChild<QDrag*>(), nullptr);  // characters, not the file

    QGuiApplication::clipboard()->clear();
    QTest::keyClick(name, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "alpha");
    EXPECT_EQ(windowCopies, 0);

    // Never editable: typing changes nothing.
    QTest::keyClicks(name, "xyz");
    QTest::keyClick(name, Qt::Key_Backspace);
    EXPECT_EQ(name->text(), "alpha beta 1.txt");

    // The same list published again, and the pointer gone: the selection stays.
    QTest::mouseMove(view()->viewport(), QPoint(5, view()->viewport()->height() - 5));
    f.publishMain(items);
    ASSERT_EQ(labelOverName(1), name);
    EXPECT_EQ(name->selectedText(), "alpha");

    // Without a selected text, Ctrl+C is the window's command again.
    QTest::mouseClick(name, Qt::LeftButton, {}, QPoint(1, 3));
    EXPECT_EQ(name->selectedText(), "");
    QTest::keyClick(name, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(windowCopies, 1);
}

TEST_P(SelectableTextsTest, TheFolderOrSubtitleIsSelectableAndTheIconStillDragsTheFile)
{
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, namePoint(2));
    ASSERT_EQ(f.model().searchSession().selectedItemID(), "/r/alpha beta 2.txt");
    const QString second = GetParam() == ResultDisplayMode::List ? "/r" : ".txt";
    // The labels come once the selection has been scrolled to.
    SelectableLabel* label = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        for (SelectableLabel* l : view()->viewport()->findChildren<SelectableLabel*>())
            if (l->isVisible() && l->text() == second)
                label = l;
        return label != nullptr;
    }));
    EXPECT_EQ(view()->viewport()->childAt(label->geometry().center()), label);
    dragSelect(label, 2);
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(label, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), second.left(2));

    // The icon or the preview of the selected item still drags the file out.
    const int row = area->resultsModel().rowOfId("/r/alpha beta 2.txt");
    const QPoint icon = GetParam() == ResultDisplayMode::List
                            ? QPoint(ListColumns::kPadding + 9, view()->rowRect(row).center().y())
                            : area->gridView()->previewRect(row).center().toPoint();
    const QPoint at = icon - QPoint(0, view()->verticalScrollBar()->value());
    QTest::mousePress(view()->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseMove(view()->viewport(), at + QPoint(30, 0));
    const QDrag* drag = view()->findChild<QDrag*>();
    ASSERT_NE(drag, nullptr);
    EXPECT_EQ(drag->mimeData()->urls(), QList<QUrl>{QUrl::fromLocalFile("/r/alpha beta 2.txt")});
    QTest::mouseRelease(view()->viewport(), Qt::LeftButton, {}, at + QPoint(30, 0));
}

// Selecting a row or a card puts labels over its texts: they show what was
// painted there, the folder cut in its middle and a card's long name on one
// line elided in its middle, so no character moves.
TEST_P(SelectableTextsTest, ALabelShowsWhatWasPaintedUnderIt)
{
    const std::string folder = "/home/用户/一个很长的文件夹名字/另一个很长的文件夹/又一个很长的文件夹/"
                               "还有一个很长的文件夹/项目/图片/二零二六年十二月的全部照片";
    const std::string path = folder + "/green_square_and_more_of_the_same.png";
    f.publishMain(fileItems({path.c_str()}));
    const int row = area->resultsModel().rowOfId(QString::fromStdString(path));
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, namePoint(row));
    ASSERT_EQ(f.model().searchSession().selectedItemID(), QString::fromStdString(path));
    const auto shownLabel = [&](const QString& text) {
        SelectableLabel* found = nullptr;
        EXPECT_TRUE(QTest::qWaitFor([&] {
            for (SelectableLabel* label : view()->viewport()->findChildren<SelectableLabel*>())
                if (label->isVisible() && label->text() == text)
                    found = label;
            return found != nullptr;
        }));
        return found;
    };
    if (GetParam() == ResultDisplayMode::List) {
        SelectableLabel* label = shownLabel(QString::fromStdString(folder));
        ASSERT_NE(label, nullptr);
        const QString painted = QFontMetrics(label->font()).elidedText(label->text(), Qt::ElideMiddle, label->width());
        ASSERT_TRUE(painted.contains(QChar(0x2026)));
        EXPECT_EQ(label->shownLines(), QStringList{painted});
    } else {
        SelectableLabel* label = shownLabel("green_square_and_more_of_the_same.png");
        ASSERT_NE(label, nullptr);
        const QStringList painted = CardPainting::nameLines(label->text(), label->font(), label->width());
        ASSERT_EQ(painted.size(), 1);
        EXPECT_EQ(label->shownLines(), painted);
        EXPECT_EQ(label->height(), QFontMetrics(label->font()).height());
    }
}

// Files change while the pointer rests on a name: each search run again
// keeps a label under the pointer, on whatever item is there now, with its
// buttons, and a drag from it selects characters, not the file.
TEST_P(SelectableTextsTest, TheItemUnderARestingPointerKeepsItsLabelWhenTheListIsSearchedAgain)
{
    QTest::mouseMove(view()->viewport(), namePoint(1));
    ASSERT_NE(labelOverName(1), nullptr);
    f.publishMain(items);
    ASSERT_NE(labelOverName(1), nullptr);
    EXPECT_EQ(labelOverName(1)->text(), "alpha beta 1.txt");

    // A new file above: the rows move down under the pointer.
    ItemList grown = fileItems({"/r/alpha beta new.txt"});
    grown.append(items);
    f.publishMain(grown);
    SelectableLabel* name = labelOverName(1);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->text(), "alpha beta 0.txt");
    if (GetParam() == ResultDisplayMode::List) {
        EXPECT_TRUE(area->listView()->showsActions(1));
        EXPECT_FALSE(area->listView()->showsActions(2));
    }
    dragSelect(name, 5);
    EXPECT_EQ(name->selectedText(), "alpha");
    EXPECT_EQ(f.model().searchSession().selectedItemID(), "/r/alpha beta 0.txt");
    EXPECT_EQ(view()->findChild<QDrag*>(), nullptr);
}

// The widget a press at a point of the screen reaches, as the window system
// routes it: tips stand above the other windows, and a window transparent for
// input lets the press through to what lies under it.
QWidget* pressedWidget(QPoint global)
{
    QList<QWidget*> windows = QApplication::topLevelWidgets();
    std::stable_partition(windows.begin(), windows.end(),
                          [](const QWidget* w) { return w->windowType() == Qt::ToolTip; });
    for (QWidget* window : windows) {
        if (!window->isVisible() || !window->geometry().contains(global)
            || window->windowFlags().testFlag(Qt::WindowTransparentForInput))
            continue;
        QWidget* child = window->childAt(window->mapFromGlobal(global));
        return child ? child : window;
    }
    return nullptr;
}

// The tip of the item under the pointer: visible, over no other item's name,
// and a press on what it covers reaches the item there.
TEST_P(SelectableTextsTest, TheTipCoversNoOtherNameAndAPressUnderItReachesTheItem)
{
    f.publishMain(numberedFiles("alpha beta ", 12));
    QTest::mouseMove(view()->viewport(), namePoint(1));
    QWidget* tip = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->isVisible() && window->windowType() == Qt::ToolTip)
                tip = window;
        return tip != nullptr;
    }));
    const QRect covered = tip->geometry();
    const QPoint origin = view()->viewport()->mapToGlobal(QPoint(0, -view()->verticalScrollBar()->value()));
    const int rows = area->resultsModel().rowCount();
    for (int row = 0; row < rows; ++row) {
        if (row != 1) {
            EXPECT_FALSE(view()->nameRect(row).translated(origin).intersects(covered)) << "name of row " << row;
        }
    }

    const QPoint under = covered.center();
    QWidget* target = pressedWidget(under);
    ASSERT_NE(target, nullptr);
    ASSERT_NE(target->window(), tip);
    QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFromGlobal(under));
    const int hit = view()->hitTest(under - origin).row;
    ASSERT_GE(hit, 0);
    EXPECT_EQ(f.model().searchSession().selectedItemID(), pathOf(area->resultsModel().itemAt(hit)));
    EXPECT_FALSE(tip->isVisible());
}

// A name that would read as another (the override turns "txt.exe" into
// "exe.txt", the line feed breaks it) is drawn in its stored order with its
// controls as marks: painted, it is the name that holds the marks as text,
// and the label over it shows them and copies what it shows.
TEST_P(SelectableTextsTest, ANameWithControlsIsDrawnInItsStoredOrder)
{
    const char* disguised = "/r/ab\u202Ecd/报告\n1\u202Etxt.exe";
    const char* asMarks = "/r/ab⟨RLO⟩cd/报告⟨LF⟩1⟨RLO⟩txt.exe";
    // Painted, not labelled: another item is selected and the pointer is away.
    const auto drawn = [&](const char* path) {
        f.publishMain(fileItems({"/r/other.txt", path}));
        const int other = area->resultsModel().rowOfId("/r/other.txt");
        QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, namePoint(other));
        QTest::mouseMove(view()->viewport(), QPoint(5, view()->viewport()->height() - 5));
        EXPECT_TRUE(QTest::qWaitFor([&] { return labelOverName(other) != nullptr; }));
        const int row = area->resultsModel().rowOfId(QString::fromUtf8(path));
        EXPECT_EQ(labelOverName(row), nullptr);
        // The list's whole row (name, type, size, date and folder); a card's name.
        const QRect rect = GetParam() == ResultDisplayMode::List ? view()->rowRect(row) : view()->nameRect(row);
        return view()->viewport()->grab(rect.translated(0, -view()->verticalScrollBar()->value())).toImage();
    };
    const QImage painted = drawn(disguised);
    EXPECT_EQ(painted, drawn(asMarks));

    f.publishMain(fileItems({disguised}));
    const int row = area->resultsModel().rowOfId(QString::fromUtf8(disguised));
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, namePoint(row));
    ASSERT_EQ(f.model().searchSession().selectedItemID(), QString::fromUtf8(disguised));  // the real path
    const QString shownName = QStringLiteral("报告⟨LF⟩1⟨RLO⟩txt.exe");
    SelectableLabel* name = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        name = labelOverName(row);
        return name && name->isVisible() && name->text() == shownName;
    }));
    for (SelectableLabel* label : view()->viewport()->findChildren<SelectableLabel*>()) {
        EXPECT_FALSE(label->text().contains(QChar(0x202E))) << label->text().toStdString();
        EXPECT_FALSE(label->text().contains(u'\n')) << label->text().toStdString();
    }
    // From before its first character to past its last, on a card's second line.
    const QPoint end(name->width() - 1, name->height() - 1);
    QTest::mousePress(name, Qt::LeftButton, {}, QPoint(0, QFontMetrics(name->font()).height() / 2));
    QTest::mouseMove(name, end);
    QTest::mouseRelease(name, Qt::LeftButton, {}, end);
    ASSERT_EQ(name->selectedText(), shownName);
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(name, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), shownName);
}

INSTANTIATE_TEST_SUITE_P(ListAndGrid, SelectableTextsTest,
                         testing::Values(ResultDisplayMode::List, ResultDisplayMode::Grid),
                         [](const auto& info) { return info.param == ResultDisplayMode::List ? "List" : "Grid"; });

} // namespace
} // namespace pallix
