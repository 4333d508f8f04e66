#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QTranslator>

#include "App/ModelTestSupport.h"
#include "App/RecordingDesktop.h"
#include "Core/Config/EditionRule.h"
#include "App/Preview/PreviewController.h"
#include "UI/Common/HotKeyManager.h"
#include "UI/Results/InlineRenameField.h"
#include "UI/Results/ResultsArea.h"
#include "UI/Results/ResultsCanvas.h"
#include "UI/Results/ResultsModel.h"
#include "UI/Search/FilterPanel.h"
#include "UI/Search/FilterSummaryRow.h"
#include "UI/Search/ResultsMenu.h"
#include "UI/Search/SearchToolbar.h"
#include "UI/Search/SearchView.h"
#include "UI/Search/SearchWindow.h"
#include "UI/Shell/QtTranslations.h"

namespace pallix {

using namespace testing_support;

namespace {

// Stands in for the preview window: counts what the model asks of it.
class CountingPreviewPanel final : public PreviewPanel {
public:
    bool isVisible() const override { return false; }
    const PreviewController* source() const override { return nullptr; }
    void present(PreviewController*, int) override { ++presented; }
    void close() override {}
    int presented = 0;
};

} // namespace

// Receives what the desktop would open, in place of the default applications.
class OpenRecorder : public QObject {
    Q_OBJECT

public slots:
    void openUrl(const QUrl& url) { opened << url; }

public:
    QList<QUrl> opened;
};

class SearchViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"报告 alpha.txt", "报告 beta.txt", "报告 gamma.txt"})
            writeFile(h.rootFolder() / name);
        // The welcome sheet would take the keys; it has its own tests.
        h.defaults->setBoolean(editionDefaultsKey(DefaultsName::WelcomeSheetDismissed), true);
        h.start();
        ASSERT_TRUE(h.settle());
        window = std::make_unique<SearchWindow>(*h.model, h.thumbnails);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        field = window->searchView()->searchField();
        PreviewPanel::setShared(&panel);
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &opener, "openUrl");
    }

    void TearDown() override
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        PreviewPanel::setShared(nullptr);
        window.reset();
    }

    // Three results for "报告", none selected.
    void searchReports()
    {
        h.model->searchSession().setSearchText(QStringLiteral("报告"));
        h.model->searchSession().scheduleSearch(true, false);
        ASSERT_TRUE(pumpUntil(*h.clock, [&] { return h.model->searchSession().results().size() == 3; }));
        h.model->searchSession().setSelectedItemID({});
    }

    QString resultPath(int i) const { return QString::fromUtf8(h.model->searchSession().results().at(i).path()); }

    ResultsCanvas* shownResults() const
    {
        return qobject_cast<ResultsCanvas*>(window->searchView()->resultsArea()->currentBody());
    }
    // Shows the results as a list or as cards, as the toolbar's buttons do.
    void clickDisplayMode(ResultDisplayMode mode)
    {
        const QString tip = mode == ResultDisplayMode::Grid ? QStringLiteral("网格") : QStringLiteral("列表");
        for (auto* button : window->findChildren<QToolButton*>()) {
            if (button->toolTip() == tip)
                QTest::mouseClick(button, Qt::LeftButton);
        }
        ASSERT_EQ(h.model->searchSession().constraints().displayMode(), mode);
    }
    // A click on the name of the row or card of the path, where the user aims.
    void clickResult(const QString& path)
    {
        ResultsCanvas* canvas = shownResults();
        ASSERT_NE(canvas, nullptr);
        const int row = window->searchView()->resultsArea()->resultsModel().rowOfId(path);
        ASSERT_GE(row, 0);
        const QPoint at = canvas->nameRect(row).center() - QPoint(0, canvas->verticalScrollBar()->value());
        QTest::mouseClick(canvas->viewport(), Qt::LeftButton, {}, at);
    }
    // A click where no row or card is: below the list, beside the last card.
    void clickEmptySpace()
    {
        ResultsCanvas* canvas = shownResults();
        ASSERT_NE(canvas, nullptr);
        const QRect view = canvas->viewport()->rect();
        for (int y = view.bottom() - 4; y > 0; y -= 8) {
            for (int x = view.right() - 4; x > 0; x -= 8) {
                if (canvas->hitTest(QPoint(x, y + canvas->verticalScrollBar()->value())).row < 0) {
                    QTest::mouseClick(canvas->viewport(), Qt::LeftButton, {}, QPoint(x, y));
                    return;
                }
            }
        }
        FAIL() << "no empty space in the results";
    }
    // Starts renaming the selected result with the menu's shortcut; the field
    // that opens, once it has the focus.
    InlineRenameField* renameSelectedByShortcut()
    {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_R, Qt::ControlModifier | Qt::AltModifier);
        ResultsCanvas* canvas = shownResults();
        if (!canvas || !QTest::qWaitFor([&] { return canvas->renameField() && canvas->renameField()->hasFocus(); }))
            return nullptr;
        return canvas->renameField();
    }

    ModelHarness h;
    std::unique_ptr<SearchWindow> window;
    QLineEdit* field = nullptr;
    CountingPreviewPanel panel;
    OpenRecorder opener;
};

// A folder unpacked from an archive made elsewhere: its name and a file's in
// it are GBK (国), not UTF-8.
class SearchViewForeignNameTest : public SearchViewTest {
protected:
    void SetUp() override
    {
        folder = (h.rootFolder() / "\xB9\xFA").string();
        writeFile(folder + "/invoice-\xB9\xFA.txt", "A");
        SearchViewTest::SetUp();
    }

    std::string folder;
};

// The desktop's questions recorded instead of shown.
class SearchViewKeysTest : public SearchViewTest {
protected:
    void SetUp() override
    {
        h.env.desktop = desktop;
        SearchViewTest::SetUp();
    }

    std::shared_ptr<RecordingDesktop> desktop = std::make_shared<RecordingDesktop>();
};

TEST_F(SearchViewForeignNameTest, TheNameShowsReplacementCharactersAndReturnOpensTheRealFile)
{
    field->setFocus();
    QTest::keyClicks(field, QStringLiteral("invoice"));
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return h.model->searchSession().results().size() == 1; }));
    const ResultsModel& rows = window->searchView()->resultsArea()->resultsModel();
    ASSERT_GE(rows.rowCount(), 1);
    EXPECT_EQ(rows.index(0).data(Qt::DisplayRole).toString(), QString::fromUtf8("invoice-\uFFFD\uFFFD.txt"));
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_EQ(opener.opened.size(), 1);
    const QByteArray opened = QByteArray::fromPercentEncoding(opener.opened[0].path(QUrl::FullyEncoded).toLatin1());
    EXPECT_EQ(opened.toStdString(), folder + "/invoice-\xB9\xFA.txt");
    EXPECT_TRUE(fs::exists(opened.toStdString()));
}

TEST_F(SearchViewTest, EveryEditSchedulesOneTypingSearch)
{
    field->setFocus();
    const auto generation = h.model->searchSession().searchGeneration();
    QSignalSpy resets(&window->searchView()->resultsArea()->resultsModel(), &QAbstractItemModel::modelReset);
    QTest::keyClicks(field, QStringLiteral("rep"));
    EXPECT_EQ(h.model->searchSession().searchGeneration(), generation + 3);
    EXPECT_EQ(h.model->searchSession().searchText(), QStringLiteral("rep"));
    EXPECT_TRUE(h.model->searchSession().typingClock().isTyping());  // stamped before the search was asked for
    // Only the answer rebuilds the results; the keys' clearing of the empty
    // side sections does not.
    ASSERT_TRUE(pumpUntil(*h.clock, [&] {
        const auto& shown = h.model->searchSession().lastDisplayedQuery();
        return shown && shown->rawText == "rep";
    }));
    EXPECT_EQ(resets.count(), 1);
}

TEST_F(SearchViewTest, ModelTextReachesTheFieldWithoutASearchAndKeepsTheCaret)
{
    const auto generation = h.model->searchSession().searchGeneration();
    h.model->searchSession().setSearchText(QStringLiteral("report"));
    EXPECT_EQ(field->text(), QStringLiteral("report"));
    EXPECT_EQ(h.model->searchSession().searchGeneration(), generation);
    field->setCursorPosition(2);
    h.model->searchSession().setSearchText(QStringLiteral("report"));
    EXPECT_EQ(field->cursorPosition(), 2);
}

TEST_F(SearchViewTest, ClearButtonEmptiesTheTextAndSearchesAtOnce)
{
    auto* clear = window->findChild<QToolButton*>(QStringLiteral("clearButton"));
    ASSERT_NE(clear, nullptr);
    EXPECT_TRUE(clear->isHidden());
    QTest::keyClicks(field, QStringLiteral("x"));
    EXPECT_FALSE(clear->isHidden());
    const auto generation = h.model->searchSession().searchGeneration();
    clear->click();
    EXPECT_EQ(h.model->searchSession().searchText(), QString());
    EXPECT_EQ(field->text(), QString());
    EXPECT_EQ(h.model->searchSession().searchGeneration(), generation + 1);
    EXPECT_TRUE(clear->isHidden());
}

TEST_F(SearchViewTest, ReturnOpensTheFirstResultWhenNothingIsSelected)
{
    searchReports();
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(h.model->searchSession().selectedItemID(), resultPath(0));
    ASSERT_EQ(opener.opened.size(), 1);
    EXPECT_EQ(opener.opened[0].toLocalFile(), resultPath(0));

    h.model->searchSession().setSelectedItemID(resultPath(2));
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_EQ(opener.opened.size(), 2);
    EXPECT_EQ(opener.opened[1].toLocalFile(), resultPath(2));
}

TEST_F(SearchViewTest, ReturnWithoutResultsOpensNothing)
{
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_TRUE(h.model->searchSession().selectedItemID().isEmpty());
    EXPECT_TRUE(opener.opened.isEmpty());
}

TEST_F(SearchViewTest, ArrowsMoveTheSelectionFromTheSearchField)
{
    searchReports();
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Down);
    EXPECT_EQ(h.model->searchSession().selectedItemID(), resultPath(0));
    QTest::keyClick(field, Qt::Key_Down);
    QTest::keyClick(field, Qt::Key_Down);
    QTest::keyClick(field, Qt::Key_Down);
    EXPECT_EQ(h.model->searchSession().selectedItemID(), resultPath(2));  // clamped at the end
    QTest::keyClick(field, Qt::Key_Up);
    EXPECT_EQ(h.model->searchSession().selectedItemID(), resultPath(1));
}

TEST_F(SearchViewTest, TheRenameFieldRenamesTheFileOnReturnAndKeepsTheArrows)
{
    searchReports();
    const IndexedItem item = h.model->searchSession().results().at(1);
    h.model->resultActions().beginInlineRename(item);
    auto* canvas = qobject_cast<ResultsCanvas*>(window->searchView()->resultsArea()->currentBody());
    ASSERT_NE(canvas, nullptr);
    InlineRenameField* rename = canvas->renameField();
    ASSERT_NE(rename, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rename->hasFocus(); }));
    QTest::keyClicks(rename, "x");  // replaces the selected whole name
    QTest::keyClick(rename, Qt::Key_Down);  // the caret's, not the selection's
    EXPECT_EQ(h.model->searchSession().selectedItemID(), resultPath(1));
    EXPECT_EQ(h.model->searchSession().inlineRename().draft(), "x");
    QTest::keyClick(rename, Qt::Key_Return);
    EXPECT_TRUE(fs::exists(h.rootFolder() / "x"));
    EXPECT_FALSE(fs::exists(item.path()));
    EXPECT_TRUE(h.model->searchSession().inlineRename().targetID().isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return canvas->renameField() == nullptr; }));
}

TEST_F(SearchViewTest, ClickingAnotherResultOrEmptySpaceWhileRenamingCancelsTheRename)
{
    searchReports();
    const QString first = resultPath(0);
    const QString second = resultPath(1);
    for (ResultDisplayMode mode : {ResultDisplayMode::List, ResultDisplayMode::Grid}) {
        clickDisplayMode(mode);
        for (bool onEmptySpace : {false, true}) {
            SCOPED_TRACE(testing::Message() << (mode == ResultDisplayMode::Grid ? "grid" : "list")
                                            << (onEmptySpace ? ", empty space" : ", another result"));
            clickResult(second);
            InlineRenameField* rename = renameSelectedByShortcut();
            ASSERT_NE(rename, nullptr);
            QTest::keyClicks(rename, "never-renamed.txt");
            if (onEmptySpace)
                clickEmptySpace();
            else
                clickResult(first);
            ASSERT_TRUE(QTest::qWaitFor([&] { return shownResults()->renameField() == nullptr; }));
            QApplication::processEvents();  // whatever the focus loss queued
            EXPECT_TRUE(fs::exists(second.toStdString()));
            EXPECT_FALSE(fs::exists(h.rootFolder() / "never-renamed.txt"));
            EXPECT_TRUE(h.model->searchSession().inlineRename().targetID().isEmpty());
            EXPECT_TRUE(h.model->searchSession().inlineRename().draft().isEmpty());
            EXPECT_EQ(h.model->searchSession().selectedItemID(), onEmptySpace ? QString() : first);
        }
    }
}

TEST_F(SearchViewTest, ReturnOpensTheClickedRowOrCard)
{
    searchReports();
    for (ResultDisplayMode mode : {ResultDisplayMode::List, ResultDisplayMode::Grid}) {
        clickDisplayMode(mode);
        clickResult(resultPath(2));
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        EXPECT_TRUE(shownResults()->isAncestorOf(focus) || focus == shownResults());
        QTest::keyClick(focus, Qt::Key_Return);
        ASSERT_FALSE(opener.opened.isEmpty());
        EXPECT_EQ(opener.opened.takeLast().toLocalFile(), resultPath(2));
        EXPECT_TRUE(opener.opened.isEmpty());
    }
}

TEST_F(SearchViewTest, TheGridRenameFieldIsNeverSmallerThan12Pixels)
{
    searchReports();
    clickDisplayMode(ResultDisplayMode::Grid);
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(field, Qt::Key_Minus, Qt::ControlModifier);
    ASSERT_DOUBLE_EQ(h.model->searchSession().constraints().gridZoom(), 0.7);  // where 15 px would scale to 10.5
    clickResult(resultPath(0));
    InlineRenameField* rename = renameSelectedByShortcut();
    ASSERT_NE(rename, nullptr);
    EXPECT_EQ(rename->font().pixelSize(), 12);
    for (int i = 0; i < 12; ++i)
        QTest::keyClick(rename, Qt::Key_Equal, Qt::ControlModifier);
    ASSERT_DOUBLE_EQ(h.model->searchSession().constraints().gridZoom(), 1.9);
    EXPECT_NEAR(rename->font().pixelSize(), 15 * 1.9, 0.5);  // and it follows the zoom above the floor
}

TEST_F(SearchViewTest, ZoomShortcutsStayWithinTheirRange)
{
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_NEAR(h.model->searchSession().constraints().gridZoom(), 1.12, 1e-9);
    for (int i = 0; i < 12; ++i)
        QTest::keyClick(field, Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(h.model->searchSession().constraints().gridZoom(), 1.9);
    for (int i = 0; i < 12; ++i)
        QTest::keyClick(field, Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(h.model->searchSession().constraints().gridZoom(), 0.7);
    QTest::keyClick(field, Qt::Key_0, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(h.model->searchSession().constraints().gridZoom(), 1.0);
    EXPECT_TRUE(field->text().isEmpty());  // the keys typed nothing
}

TEST_F(SearchViewTest, SpacePreviewsTheSelectionOutsideTextFields)
{
    searchReports();
    h.model->searchSession().setSelectedItemID(resultPath(1));
    auto* settings = window->findChild<QPushButton*>(QStringLiteral("settingsButton"));
    ASSERT_NE(settings, nullptr);
    settings->setFocus();
    QTest::keyClick(settings, Qt::Key_Space);
    EXPECT_EQ(panel.presented, 1);
}

TEST_F(SearchViewTest, SpaceTypesASpaceInTheSearchField)
{
    searchReports();
    h.model->searchSession().setSelectedItemID(resultPath(1));
    field->setFocus();
    field->setText(QStringLiteral("报告"));
    QTest::keyClick(field, Qt::Key_Space);
    EXPECT_EQ(field->text(), QStringLiteral("报告 "));
    EXPECT_EQ(h.model->searchSession().searchText(), QStringLiteral("报告 "));
    EXPECT_EQ(panel.presented, 0);
}

TEST_F(SearchViewTest, SpaceDoesNotPreviewWithoutSelectionDuringRenameOrWhileRecordingAHotKey)
{
    searchReports();
    auto* settings = window->findChild<QPushButton*>(QStringLiteral("settingsButton"));
    settings->setFocus();
    QTest::keyClick(settings, Qt::Key_Space);  // nothing selected
    h.model->searchSession().setSelectedItemID(resultPath(0));
    h.model->searchSession().inlineRename().setTargetID(resultPath(0));
    QTest::keyClick(settings, Qt::Key_Space);
    h.model->searchSession().inlineRename().setTargetID({});
    HotKeyManager::shared().suspend();
    QTest::keyClick(settings, Qt::Key_Space);
    HotKeyManager::shared().resume();
    EXPECT_EQ(panel.presented, 0);
    QTest::keyClick(settings, Qt::Key_Space);
    EXPECT_EQ(panel.presented, 1);
}

TEST_F(SearchViewTest, SpaceInAnotherWindowIsNotTaken)
{
    searchReports();
    h.model->searchSession().setSelectedItemID(resultPath(0));
    QWidget other;
    auto* button = new QPushButton(QStringLiteral("x"), &other);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_EQ(panel.presented, 0);
}

TEST_F(SearchViewTest, ResultsMenuFollowsTheSelectedItem)
{
    const auto allEnabled = [&](bool enabled) {
        for (QAction* action : window->resultsMenu()->actions()) {
            if (!action->isSeparator() && action->isEnabled() != enabled)
                return false;
        }
        return true;
    };
    int items = 0;
    for (QAction* action : window->resultsMenu()->actions())
        items += action->isSeparator() ? 0 : 1;
    EXPECT_EQ(items, 9);
    EXPECT_TRUE(allEnabled(false));
    searchReports();
    h.model->searchSession().setSelectedItemID(resultPath(0));
    EXPECT_TRUE(allEnabled(true));
    h.model->searchSession().setSelectedItemID(QStringLiteral("/nowhere/gone.txt"));  // not in any list
    EXPECT_TRUE(allEnabled(false));
}

// Ctrl+Backspace deletes the previous word in the search field and in the
// rename field; only with the results focused does it ask to move the
// selected result to the trash. F2 renames, as in the file managers.
TEST_F(SearchViewKeysTest, CtrlBackspaceDeletesAWordInTextFieldsAndTrashesOnlyFromTheResults)
{
    searchReports();
    QTest::mouseClick(field, Qt::LeftButton);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, QStringLiteral("txt alpha"));
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return h.model->searchSession().results().size() == 1; }));
    const QString alpha = resultPath(0);
    clickResult(alpha);
    ASSERT_EQ(h.model->searchSession().selectedItemID(), alpha);

    QTest::mouseClick(field, Qt::LeftButton);
    QTest::keyClick(field, Qt::Key_End);
    QTest::keyClick(field, Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(field->text(), QStringLiteral("txt "));
    EXPECT_TRUE(desktop->questions.empty());
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return h.model->searchSession().results().size() == 3; }));

    clickResult(alpha);
    // F2 types no character (keyClick would look for one).
    QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_F2, QString(), Qt::NoModifier);
    ResultsCanvas* canvas = shownResults();
    ASSERT_TRUE(QTest::qWaitFor([&] { return canvas->renameField() && canvas->renameField()->hasFocus(); }));
    InlineRenameField* rename = canvas->renameField();
    QTest::keyClick(rename, Qt::Key_End);
    const QString draft = rename->text();
    QTest::keyClick(rename, Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_LT(rename->text().size(), draft.size());
    EXPECT_TRUE(draft.startsWith(rename->text()));
    EXPECT_TRUE(desktop->questions.empty());
    QTest::keyClick(rename, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return canvas->renameField() == nullptr; }));

    clickResult(alpha);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace, Qt::ControlModifier);
    ASSERT_EQ(desktop->questions.size(), 1u);
    EXPECT_EQ(desktop->questions.front().message, QStringLiteral("移到回收站？"));
    EXPECT_TRUE(fs::exists(alpha.toStdString()));
}

// Return and Space are written as Qt writes the shortcuts beside them.
TEST_F(SearchViewTest, TheResultsMenuWritesEveryKeyInOneNotation)
{
    const QLocale before;
    QTranslator* translator = installQtTranslations(*qApp);
    ASSERT_NE(translator, nullptr);
    ResultsMenu menu(h.model->searchSession(), h.model->resultActions(), nullptr);
    QStringList keys;
    for (QAction* action : menu.actions()) {
        if (!action->isSeparator())
            keys << action->text().section(u'\t', 1) + action->shortcut().toString(QKeySequence::NativeText);
    }
    QCoreApplication::removeTranslator(translator);
    delete translator;
    QLocale::setDefault(before);
    const QString joined = keys.join(u'|');
    EXPECT_FALSE(joined.contains(QStringLiteral("Return")) || joined.contains(QStringLiteral("Space"))
                 || joined.contains(QStringLiteral("Backspace")))
        << joined.toStdString();
    EXPECT_TRUE(keys.contains(QStringLiteral("空格"))) << joined.toStdString();
}

TEST_F(SearchViewTest, MovingTheSelectionAwayCancelsARename)
{
    searchReports();
    h.model->searchSession().setSelectedItemID(resultPath(0));
    h.model->searchSession().inlineRename().setTargetID(resultPath(0));
    h.model->searchSession().inlineRename().setDraft(QStringLiteral("新名字.txt"));
    h.model->searchSession().setSelectedItemID(resultPath(0));
    EXPECT_EQ(h.model->searchSession().inlineRename().targetID(), resultPath(0));
    h.model->searchSession().setSelectedItemID(resultPath(1));
    EXPECT_TRUE(h.model->searchSession().inlineRename().targetID().isEmpty());
    EXPECT_TRUE(h.model->searchSession().inlineRename().draft().isEmpty());
}

TEST_F(SearchViewTest, TurningOneScopeOffTurnsTheOtherOn)
{
    QCheckBox* local = nullptr;
    for (auto* box : window->findChildren<QCheckBox*>()) {
        if (box->text() == QStringLiteral("本机 + 外接"))
            local = box;
    }
    ASSERT_NE(local, nullptr);
    h.model->settingsOperations().applySearchScopeChanges(true, false);
    local->click();
    EXPECT_FALSE(h.model->settings().includeLocalInSearch);
    EXPECT_TRUE(h.model->settings().includeServerInSearch);
    EXPECT_FALSE(local->isChecked());
}

TEST_F(SearchViewTest, TheFilterToggleSlidesThePanelAndTheSummaryTakesItsPlace)
{
    SearchView* view = window->searchView();
    QToolButton* toggle = nullptr;
    for (auto* button : view->toolbar()->findChildren<QToolButton*>()) {
        if (button->text() == QStringLiteral("展开筛选"))
            toggle = button;
    }
    ASSERT_NE(toggle, nullptr);
    h.model->searchSession().constraints().updateContentFilter(SearchContentFilter::Images);
    EXPECT_TRUE(view->filterPanel()->isHidden());
    EXPECT_FALSE(view->filterSummary()->isHidden());

    toggle->click();
    EXPECT_EQ(toggle->text(), QStringLiteral("收起筛选"));
    EXPECT_TRUE(view->filterSummary()->isHidden());
    EXPECT_FALSE(view->filterPanel()->isHidden());
    // Open, not a sliver: the height follows the slide's end once the layout
    // has run, which a loaded machine may leave for a later turn.
    const auto isOpen = [&] {
        return view->filterPanel()->maximumHeight() == QWIDGETSIZE_MAX
               && view->filterPanel()->height() > view->filterPanel()->sizeHint().height() / 2;
    };
    ASSERT_TRUE(waitFor(isOpen));

    toggle->click();  // and back before it has closed: it opens again
    toggle->click();
    ASSERT_TRUE(waitFor(isOpen));
    toggle->click();
    EXPECT_FALSE(view->filterSummary()->isHidden());
    ASSERT_TRUE(waitFor([&] { return view->filterPanel()->isHidden(); }));
}

} // namespace pallix

#include "SearchViewTest.moc"
