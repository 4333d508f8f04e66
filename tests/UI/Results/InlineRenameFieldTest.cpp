#include "UI/Results/InlineRenameField.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include "ResultsTestSupport.h"
#include "UI/Results/ResultsArea.h"
#include "UI/Results/ResultsGridView.h"
#include "UI/Results/ResultsListView.h"
#include "UI/Preview/DesktopDialogs.h"

namespace pallix {
namespace {

using namespace testing_support;

// The area in a window beside another field the focus can go to.
struct InlineRenameTest : testing::Test {
    ResultsFixture f;
    QWidget window;
    QLineEdit* other = new QLineEdit(&window);
    ResultsArea* area = new ResultsArea(f.model().searchSession(), nullptr, f.h.thumbnails, &window);

    void SetUp() override
    {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(other);
        layout->addWidget(area, 1);
        window.resize(1300, 700);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        f.publishMain(numberedFiles("a", 6, "tar.gz"));
    }
    void beginRename(const QString& path, const QString& draft)
    {
        f.model().searchSession().setSelectedItemID(path);
        f.model().searchSession().inlineRename().setTargetID(path);
        f.model().searchSession().inlineRename().setDraft(draft);
    }
    InlineRenameField* focusedField(ResultsCanvas* canvas)
    {
        InlineRenameField* field = canvas->renameField();
        if (!field || !QTest::qWaitFor([&] { return field->hasFocus(); }))
            return nullptr;
        return field;
    }
};

TEST_F(InlineRenameTest, FieldSitsOverTheNameInListAndGrid)
{
    f.model().searchSession().constraints().setDisplayMode(ResultDisplayMode::List);
    ResultsListView* list = area->listView();
    EXPECT_EQ(list->renameField(), nullptr);
    beginRename("/r/a3.tar.gz", "a3.tar.gz");
    InlineRenameField* field = focusedField(list);
    ASSERT_NE(field, nullptr);
    const int row = area->resultsModel().rowOfId("/r/a3.tar.gz");
    EXPECT_EQ(field->geometry(), list->nameRect(row).translated(0, -list->verticalScrollBar()->value()));
    EXPECT_EQ(field->text(), "a3.tar.gz");
    EXPECT_EQ(field->selectedText(), "a3.tar.gz");  // the whole name, extension included

    f.model().searchSession().constraints().setDisplayMode(ResultDisplayMode::Grid);
    ResultsGridView* grid = area->gridView();
    // Leaving the list ended that editing; the grid shows its own field.
    EXPECT_EQ(list->renameField(), nullptr);
    beginRename("/r/a4.tar.gz", "a4.tar.gz");
    field = focusedField(grid);
    ASSERT_NE(field, nullptr);
    const QRect name = grid->nameRect(area->resultsModel().rowOfId("/r/a4.tar.gz"));
    EXPECT_EQ(field->geometry(), name.translated(0, -grid->verticalScrollBar()->value()));
    EXPECT_TRUE(grid->rowRect(area->resultsModel().rowOfId("/r/a4.tar.gz")).contains(name));

    f.model().searchSession().inlineRename().setTargetID(QString());
    EXPECT_EQ(grid->renameField(), nullptr);
}

TEST_F(InlineRenameTest, TypingReachesTheModelAndRepublishingKeepsTheCaret)
{
    f.model().searchSession().constraints().setDisplayMode(ResultDisplayMode::List);
    beginRename("/r/a1.tar.gz", "a1.tar.gz");
    InlineRenameField* field = focusedField(area->listView());
    ASSERT_NE(field, nullptr);
    field->setCursorPosition(2);
    QTest::keyClicks(field, "xy");
    EXPECT_EQ(f.model().searchSession().inlineRename().draft(), "a1xy.tar.gz");
    EXPECT_EQ(field->cursorPosition(), 4);
    field->setSelection(1, 3);
    f.model().searchSession().inlineRename().setDraft("a1xy.tar.gz");
    EXPECT_EQ(field->selectedText(), "1xy");
    f.model().searchSession().inlineRename().setDraft("b.txt");
    EXPECT_EQ(field->text(), "b.txt");
}

TEST_F(InlineRenameTest, ReturnCommitsEscapeCancelsFocusLossEnds)
{
    f.model().searchSession().constraints().setDisplayMode(ResultDisplayMode::List);
    QSignalSpy commit(area, &ResultsArea::commitInlineRenameRequested);
    QSignalSpy cancel(area, &ResultsArea::cancelInlineRenameRequested);
    QSignalSpy ended(area, &ResultsArea::inlineRenameEditingEnded);
    beginRename("/r/a2.tar.gz", "a2.tar.gz");
    InlineRenameField* field = focusedField(area->listView());
    ASSERT_NE(field, nullptr);

    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(commit.count(), 1);
    EXPECT_TRUE(field->hasFocus());  // still shown: the rename did not end
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Tab);  // like Return, not to the next control
    EXPECT_EQ(commit.count(), 2);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_EQ(cancel.count(), 1);
    EXPECT_EQ(ended.count(), 0);

    field->setFocus();
    other->setFocus();
    EXPECT_EQ(ended.count(), 1);
    EXPECT_EQ(commit.count(), 2);
    EXPECT_EQ(cancel.count(), 1);
}

// A rename the file system refuses (a name taken) shows a message box over
// the window; once it is closed, Escape cancels the rename, and the box's
// taking the focus did not end (and so commit again) the editing.
TEST_F(InlineRenameTest, EscapeAfterTheConflictBoxCancelsTheRename)
{
    f.model().searchSession().constraints().setDisplayMode(ResultDisplayMode::List);
    WidgetDesktop desktop;
    QSignalSpy commit(area, &ResultsArea::commitInlineRenameRequested);
    QSignalSpy cancel(area, &ResultsArea::cancelInlineRenameRequested);
    QSignalSpy ended(area, &ResultsArea::inlineRenameEditingEnded);
    QObject::connect(area, &ResultsArea::commitInlineRenameRequested, area, [&desktop] {
        desktop.alert(QStringLiteral("无法重命名"), QStringLiteral("已存在名为“a2.tar.gz”的项目。"));
    });
    beginRename("/r/a1.tar.gz", "a2.tar.gz");
    InlineRenameField* field = focusedField(area->listView());
    ASSERT_NE(field, nullptr);
    QTest::keyClick(field, Qt::Key_Return);
    QMessageBox* box = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        box = qobject_cast<QMessageBox*>(QApplication::activeWindow());
        return box != nullptr;
    }));
    QTest::keyClick(box, Qt::Key_Escape);  // closes the box
    ASSERT_TRUE(QTest::qWaitFor([&] { return !box->isVisible(); }));
    window.activateWindow();  // the window manager's part once the box is gone
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == field; }));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_EQ(cancel.count(), 1);
    EXPECT_EQ(commit.count(), 1);
    EXPECT_EQ(ended.count(), 0);
}

TEST_F(InlineRenameTest, AnOwnerThatEndsTheRenameOnCommitGetsOneEnding)
{
    f.model().searchSession().constraints().setDisplayMode(ResultDisplayMode::Grid);
    QSignalSpy ended(area, &ResultsArea::inlineRenameEditingEnded);
    QObject::connect(area, &ResultsArea::commitInlineRenameRequested, &f.model(),
                     [this] { f.model().searchSession().inlineRename().setTargetID(QString()); });
    beginRename("/r/a0.tar.gz", "a0.tar.gz");
    ASSERT_NE(focusedField(area->gridView()), nullptr);
    QTest::keyClick(area->gridView()->renameField(), Qt::Key_Return);
    EXPECT_EQ(area->gridView()->renameField(), nullptr);
    EXPECT_EQ(ended.count(), 0);
    EXPECT_TRUE(area->gridView()->hasFocus());  // the keyboard stays in the results
}

} // namespace
} // namespace pallix
