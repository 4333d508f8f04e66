#include "App/Actions/ResultActions.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QSignalSpy>

#include "App/Preview/FolderBrowserManager.h"
#include "App/ModelTestSupport.h"
#include "Platform/FileNames.h"
#include "App/RecordingDesktop.h"

namespace pallix {
namespace {

using namespace testing_support;

const QString kMissing = QStringLiteral("找不到该项目，可能已被移动或删除。");

std::string contents(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Actions on a real temporary tree, with the desktop recorded.
struct ResultActionsTest : testing::Test {
    ModelHarness h;
    std::shared_ptr<RecordingDesktop> desktop = std::make_shared<RecordingDesktop>();
    TempDir tree;

    void SetUp() override
    {
        h.env.desktop = desktop;
        h.preventStartUp();
        h.start();
        QObject::connect(&model(0)->searchSession(), &SearchSession::selectedItemIDChanged, model(0),
                         [this] { h.log.push_back("sel:" + model().searchSession().selectedItemID().toStdString()); });
    }
    // The model's events from now on: the re-search that follows an action
    // publishes empty results here, which clears the selection after it.
    std::vector<std::string> eventsAfter(const std::function<void()>& action)
    {
        const std::size_t mark = h.log.size();
        action();
        return {h.log.begin() + static_cast<std::ptrdiff_t>(mark), h.log.end()};
    }
    AppModel& model() { return *h.model; }
    AppModel* model(int) { return h.model.get(); }
    ResultActions& actions() { return model().resultActions(); }
    IndexedItem make(const std::string& relative, const std::string& content = "x")
    {
        writeFile(tree.path() / relative, content);
        return fileItem((tree.path() / relative).string());
    }
    IndexedItem folder(const std::string& relative)
    {
        fs::create_directories(tree.path() / relative);
        return fileItem((tree.path() / relative).string(), true);
    }
    // The re-search every change on disk asks for.
    std::int64_t generation() { return model().searchSession().searchGeneration(); }
};

TEST_F(ResultActionsTest, OpenSendsFilesAndUnbrowsedFoldersToTheDesktop)
{
    const IndexedItem file = make("a.txt");
    const IndexedItem dir = folder("d");
    actions().open(file);
    actions().open(dir);
    actions().openPath(QString::fromStdString(tree.str() + "/a.txt"));
    ASSERT_EQ(desktop->opened.size(), 3);
    EXPECT_EQ(desktop->opened[0].toLocalFile().toStdString(), file.path());
    EXPECT_EQ(desktop->opened[1].toLocalFile().toStdString(), dir.path());  // no browser window listens yet

    QStringList browsed;
    QObject receiver;
    QObject::connect(&FolderBrowserManager::shared(), &FolderBrowserManager::windowRequested, &receiver,
                     [&](const QString& path) { browsed.append(path); });
    actions().open(dir);
    EXPECT_EQ(browsed, QStringList{QString::fromUtf8(dir.path())});
    EXPECT_EQ(desktop->opened.size(), 3);
}

TEST_F(ResultActionsTest, RevealAndCopiesActOnTheSelection)
{
    const IndexedItem a = make("报告.txt");
    model().searchSession().applySearchResults({a}, model().searchSession().currentQuerySnapshot());
    model().searchSession().setSelectedItemID(QString::fromUtf8(a.path()));
    actions().revealSelected();
    ASSERT_EQ(desktop->revealed.size(), 1);
    EXPECT_EQ(desktop->revealed[0], QUrl::fromLocalFile(QString::fromUtf8(a.path())));

    actions().copySelectedName();
    EXPECT_EQ(desktop->clipboard->text(), QString::fromUtf8("报告.txt"));
    EXPECT_EQ(model().statusMessage(), "已复制文件名");
    actions().copySelectedPath();
    EXPECT_EQ(desktop->clipboard->text().toStdString(), a.path());
    EXPECT_EQ(model().statusMessage(), "已复制路径");

    actions().copyFileToPasteboard(a);
    const QMimeData& data = *desktop->clipboard;
    EXPECT_EQ(data.urls(), QList<QUrl>{QUrl::fromLocalFile(QString::fromUtf8(a.path()))});
    EXPECT_EQ(data.data("x-special/gnome-copied-files"),
              "copy\n" + QUrl::fromLocalFile(QString::fromUtf8(a.path())).toEncoded());
    EXPECT_EQ(data.text(), QString::fromUtf8("报告.txt"));
    EXPECT_EQ(model().statusMessage(), "已拷贝到剪贴板，可在文件管理器中粘贴");

    model().searchSession().setSelectedItemID("/nowhere/only-sku.txt");  // not in the lists: no item, nothing happens
    actions().revealSelected();
    EXPECT_EQ(desktop->revealed.size(), 1);
}

TEST_F(ResultActionsTest, CopyingAVanishedItemAlertsAndKeepsTheClipboard)
{
    actions().copyFileToPasteboard(fileItem(tree.str() + "/gone.txt"));
    EXPECT_EQ(desktop->alerts, QStringList{"无法拷贝|" + kMissing});
    EXPECT_FALSE(desktop->clipboard);
}

TEST_F(ResultActionsTest, RenameCommitsTrimmedNamesAndReSearches)
{
    const IndexedItem a = make("a.txt", "A");
    actions().beginInlineRename(a);
    EXPECT_EQ(model().searchSession().inlineRename().targetID().toStdString(), a.path());
    EXPECT_EQ(model().searchSession().inlineRename().draft(), "a.txt");
    EXPECT_EQ(model().searchSession().selectedItemID().toStdString(), a.path());

    model().searchSession().inlineRename().setDraft("  b.txt \n");
    const auto before = generation();
    const auto events = eventsAfter([&] { actions().commitInlineRename(); });
    EXPECT_TRUE(model().searchSession().inlineRename().targetID().isEmpty());
    EXPECT_TRUE(model().searchSession().inlineRename().draft().isEmpty());
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0], "sel:" + tree.str() + "/b.txt");
    EXPECT_EQ(events[1], "status:已重命名");
    EXPECT_GT(generation(), before);
    EXPECT_EQ(contents(tree.path() / "b.txt"), "A");
    actions().commitInlineRename();  // the field's late end-of-editing does nothing
    EXPECT_TRUE(desktop->alerts.isEmpty());
}

// The re-search right after a rename runs before the index holds the new
// path: the renamed item stays selected, not the first row, so Return opens it.
TEST_F(ResultActionsTest, TheRenamedItemStaysSelectedWhileTheIndexCatchesUp)
{
    const IndexedItem first = make("first.txt");
    const IndexedItem a = make("a.txt", "A");
    const std::string firstPath(first.path()), oldPath(a.path()), renamed = tree.str() + "/b.txt";
    SearchSession& session = model().searchSession();
    session.setSearchText("txt");
    const auto publish = [&](const std::vector<std::string>& paths) {
        ItemList list;
        for (const std::string& path : paths)
            list.append(fileItem(path));
        session.applySearchResults(list, session.currentQuerySnapshot());
    };
    publish({firstPath, oldPath});
    actions().beginInlineRename(a);
    session.inlineRename().setDraft("b.txt");
    actions().commitInlineRename();
    publish({firstPath, oldPath});  // searched before the index saw the rename
    EXPECT_EQ(session.selectedItemID().toStdString(), renamed);
    publish({firstPath, renamed});
    EXPECT_EQ(session.selectedItemID().toStdString(), renamed);
    ASSERT_TRUE(session.selectedItem().has_value());
    // Once listed, the renamed item is a selection like any other.
    publish({firstPath, oldPath});
    EXPECT_EQ(session.selectedItemID().toStdString(), firstPath);
}

TEST_F(ResultActionsTest, RenameFailuresKeepTheFieldOpenExceptTheUnchangedName)
{
    const IndexedItem a = make("a.txt", "A");
    make("b.txt", "B");
    // The system's refusal is said in Chinese, its own words kept beside.
    const std::string tooLong(300, 'n');
    const struct {
        const char* draft;
        const char* message;
    } failures[] = {{"   ", "名称不能为空。"},
                    {"x/y", "名称不能包含 \u201C/\u201D 等非法字符。"},
                    {"b.txt", "已存在名为「b.txt」的项目。"},
                    {tooLong.c_str(), "文件名过长（File name too long）"}};
    for (const auto& f : failures) {
        SCOPED_TRACE(f.draft);
        actions().beginInlineRename(a);
        model().searchSession().inlineRename().setDraft(QString::fromUtf8(f.draft));
        desktop->alerts.clear();
        actions().commitInlineRename();
        EXPECT_EQ(model().statusMessage(), QString::fromUtf8(f.message));
        EXPECT_EQ(desktop->alerts, QStringList{"无法重命名|" + QString::fromUtf8(f.message)});
        EXPECT_EQ(model().searchSession().inlineRename().targetID().toStdString(), a.path());
        EXPECT_EQ(model().searchSession().inlineRename().draft(), QString::fromUtf8(f.draft));
    }
    EXPECT_EQ(contents(tree.path() / "b.txt"), "B");  // the existing target is untouched

    model().context().setStatusMessage("before");
    desktop->alerts.clear();
    model().searchSession().inlineRename().setDraft("a.txt");
    actions().commitInlineRename();
    EXPECT_TRUE(model().searchSession().inlineRename().targetID().isEmpty());
    EXPECT_EQ(model().statusMessage(), "before");
    EXPECT_TRUE(desktop->alerts.isEmpty());

    actions().beginInlineRename(a);
    fs::remove(tree.path() / "a.txt");
    model().searchSession().inlineRename().setDraft("c.txt");
    actions().commitInlineRename();
    EXPECT_EQ(model().statusMessage(), kMissing);
    EXPECT_FALSE(model().searchSession().inlineRename().targetID().isEmpty());

    actions().cancelInlineRename();
    actions().beginInlineRename(a);  // vanished: alert, no rename begins
    EXPECT_TRUE(model().searchSession().inlineRename().targetID().isEmpty());
    EXPECT_EQ(desktop->alerts.back(), "无法重命名|" + kMissing);
}

TEST_F(ResultActionsTest, DuplicateSelectsTheCopyAndReSearches)
{
    const IndexedItem a = make("a.txt", "A");
    const IndexedItem d = folder("照片");
    writeFile(tree.path() / "照片" / "1.jpg", "one");
    const auto before = generation();
    auto selected = [&](const std::string& name) {
        return std::find(h.log.begin(), h.log.end(), "sel:" + tree.str() + "/" + name) != h.log.end();
    };
    actions().duplicateItem(a);
    ASSERT_TRUE(waitFor([&] { return std::find(h.log.begin(), h.log.end(), "status:已制作副本") != h.log.end(); }));
    EXPECT_TRUE(selected("a 副本.txt"));
    EXPECT_GT(generation(), before);
    actions().duplicateItem(a);
    ASSERT_TRUE(waitFor([&] { return selected("a 副本 2.txt"); }));
    actions().duplicateItem(d);
    ASSERT_TRUE(waitFor([&] { return selected("照片 副本"); }));
    EXPECT_EQ(contents(tree.path() / "照片 副本" / "1.jpg"), "one");

    actions().duplicateItem(fileItem(tree.str() + "/gone.txt"));
    ASSERT_TRUE(waitFor([&] { return !desktop->alerts.isEmpty(); }));
    EXPECT_EQ(desktop->alerts, QStringList{"无法制作副本|" + kMissing});
    EXPECT_EQ(h.log.back(), "status:" + kMissing.toStdString());
}

TEST_F(ResultActionsTest, DuplicatingAPipeIsRefusedWithAnAlertAndCreatesNothing)
{
    const std::string pipe = tree.str() + "/pipe.jpg";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    actions().duplicateItem(fileItem(pipe));
    ASSERT_TRUE(waitFor([&] { return !desktop->alerts.isEmpty(); }));
    const QString message = QStringLiteral("「pipe.jpg」是命名管道，没有可复制的内容。");
    EXPECT_EQ(desktop->alerts, QStringList{"无法制作副本|" + message});
    EXPECT_NE(std::find(h.log.begin(), h.log.end(), "status:" + message.toStdString()), h.log.end());
    EXPECT_EQ(std::find(h.log.begin(), h.log.end(), "status:已制作副本"), h.log.end());
    EXPECT_FALSE(fs::exists(fs::symlink_status(tree.path() / "pipe 副本.jpg")));
}

TEST_F(ResultActionsTest, TrashAsksFirstAndActsOnTheItemAskedAbout)
{
    const IndexedItem a = make("a.txt");
    const IndexedItem b = make("b.txt");
    model().searchSession().applySearchResults({a, b}, model().searchSession().currentQuerySnapshot());
    model().searchSession().setSelectedItemID(QString::fromUtf8(a.path()));

    actions().moveItemToTrash(b);  // answered later
    ASSERT_EQ(desktop->questions.size(), 1u);
    EXPECT_EQ(desktop->questions[0].message, "移到回收站？");
    EXPECT_EQ(desktop->questions[0].informative, "b.txt");
    EXPECT_EQ(desktop->questions[0].acceptText, "移到回收站");
    EXPECT_EQ(desktop->questions[0].cancelText, "取消");

    model().context().setStatusMessage("before");
    desktop->respond(false);
    EXPECT_TRUE(fs::exists(b.path()));
    EXPECT_EQ(model().statusMessage(), "before");
    EXPECT_TRUE(desktop->alerts.isEmpty());

    // Trash inside the test tree, so nothing reaches the user's own.
    fs::create_directories(tree.path() / "data");
    ScopedEnv dataHome("XDG_DATA_HOME", tree.str() + "/data");
    const auto before = generation();
    actions().moveItemToTrash(b);
    auto events = eventsAfter([&] { desktop->respond(true); });
    EXPECT_FALSE(fs::exists(b.path()));
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0], "status:已移到回收站");  // another item stays selected
    EXPECT_GT(generation(), before);

    desktop->answer = true;
    model().context().setStatusMessage("before");
    model().searchSession().applySearchResults({a}, model().searchSession().currentQuerySnapshot());
    model().searchSession().setSelectedItemID(QString::fromUtf8(a.path()));
    events = eventsAfter([&] { actions().moveSelectedToTrash(); });
    EXPECT_FALSE(fs::exists(a.path()));
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0], "sel:");
    EXPECT_EQ(events[1], "status:已移到回收站");
}

// A folder unpacked from an archive made elsewhere: its name is GBK (国),
// not UTF-8. The index keeps it by its stored path; every action reaches the
// real bytes.
TEST_F(ResultActionsTest, ActionsOnANameThatIsNotUtf8ReachTheRealFile)
{
    const std::string folder = tree.str() + "/\xB9\xFA";
    writeFile(folder + "/\xB9\xFA.txt", "A");
    writeFile(folder + "/b.txt", "B");
    const auto indexed = [](const std::string& bytes) {
        const auto item = IndexedItem::from(filenames::fromFileSystem(bytes));
        EXPECT_TRUE(item.has_value()) << bytes;
        return item.value_or(IndexedItem());
    };
    const IndexedItem a = indexed(folder + "/\xB9\xFA.txt");
    const IndexedItem b = indexed(folder + "/b.txt");
    const auto bytesOf = [](const QUrl& url) {
        return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
    };

    actions().open(a);
    actions().reveal(b);
    actions().copyFileToPasteboard(a);
    ASSERT_EQ(desktop->opened.size(), 1);
    EXPECT_EQ(bytesOf(desktop->opened[0]), folder + "/\xB9\xFA.txt");
    ASSERT_EQ(desktop->revealed.size(), 1);
    EXPECT_EQ(bytesOf(desktop->revealed[0]), folder + "/b.txt");
    ASSERT_EQ(desktop->clipboard->urls().size(), 1);
    EXPECT_EQ(bytesOf(desktop->clipboard->urls()[0]), folder + "/\xB9\xFA.txt");
    EXPECT_EQ(desktop->clipboard->text(), QString::fromUtf8("\uFFFD\uFFFD.txt"));  // what the user reads
    actions().copyName(a);
    EXPECT_EQ(desktop->clipboard->text(), QString::fromUtf8("\uFFFD\uFFFD.txt"));

    // Renamed in its folder, which keeps its own bytes; the draft keeps the name's.
    actions().beginInlineRename(a);
    EXPECT_EQ(model().searchSession().inlineRename().draft().toStdString(), a.name());
    model().searchSession().inlineRename().setDraft("renamed.txt");
    actions().commitInlineRename();
    EXPECT_EQ(contents(folder + "/renamed.txt"), "A");
    EXPECT_FALSE(fs::exists(folder + "/\xB9\xFA.txt"));
    const auto logged = [&](const std::string& event) {
        return std::find(h.log.begin(), h.log.end(), event) != h.log.end();
    };
    EXPECT_TRUE(logged("sel:" + filenames::fromFileSystem(folder + "/renamed.txt")));

    // Trashed by its bytes, with its place recorded for a file manager to put it back.
    fs::create_directories(tree.path() / "data");
    ScopedEnv dataHome("XDG_DATA_HOME", tree.str() + "/data");
    desktop->answer = true;
    actions().moveItemToTrash(b);
    EXPECT_EQ(model().statusMessage(), "已移到回收站");
    EXPECT_FALSE(fs::exists(folder + "/b.txt"));
    EXPECT_EQ(contents(tree.str() + "/data/Trash/files/b.txt"), "B");
    EXPECT_NE(contents(tree.str() + "/data/Trash/info/b.txt.trashinfo").find("\nPath=" + tree.str() + "/%B9%FA/b.txt\n"),
              std::string::npos);

    // The folder itself, copied and then trashed with what is in it.
    const IndexedItem d = indexed(folder);
    actions().duplicateItem(d);
    ASSERT_TRUE(waitFor([&] { return logged("status:已制作副本"); }));
    EXPECT_EQ(contents(folder + " \xE5\x89\xAF\xE6\x9C\xAC/renamed.txt"), "A");  // "<bytes> 副本"
    actions().moveItemToTrash(d);
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(contents(tree.str() + "/data/Trash/files/\xB9\xFA/renamed.txt"), "A");
    EXPECT_TRUE(desktop->alerts.isEmpty()) << desktop->alerts.join(u'\n').toStdString();
}

// A name that would read as another ("a<RLO>txt.exe" as "aexe.txt") is asked
// about with its controls as marks; every action and copy takes its real
// characters.
TEST_F(ResultActionsTest, ANameWithControlsIsAskedAboutAsShownAndActedOnByItsRealCharacters)
{
    const IndexedItem a = make("a\u202Etxt.exe");
    const IndexedItem b = make("b\nline.txt");
    model().searchSession().applySearchResults({a, b}, model().searchSession().currentQuerySnapshot());
    model().searchSession().setSelectedItemID(QString::fromUtf8(a.path()));

    actions().copySelectedPath();
    EXPECT_EQ(desktop->clipboard->text().toStdString(), a.path());
    actions().copySelectedName();
    EXPECT_EQ(desktop->clipboard->text().toStdString(), "a\u202Etxt.exe");
    actions().copyFileToPasteboard(b);
    EXPECT_EQ(desktop->clipboard->urls(), QList<QUrl>{QUrl::fromLocalFile(QString::fromUtf8(b.path()))});
    actions().beginInlineRename(a);
    EXPECT_EQ(model().searchSession().inlineRename().draft().toStdString(), "a\u202Etxt.exe");
    actions().cancelInlineRename();

    fs::create_directories(tree.path() / "data");
    ScopedEnv dataHome("XDG_DATA_HOME", tree.str() + "/data");
    desktop->answer = true;
    actions().moveItemToTrash(a);
    actions().moveItemToTrash(b);
    ASSERT_EQ(desktop->questions.size(), 2u);
    EXPECT_EQ(desktop->questions[0].informative, QStringLiteral("a⟨RLO⟩txt.exe"));
    EXPECT_EQ(desktop->questions[1].informative, QStringLiteral("b⟨LF⟩line.txt"));
    EXPECT_FALSE(fs::exists(a.path()));
    EXPECT_FALSE(fs::exists(b.path()));
    EXPECT_EQ(contents(tree.str() + "/data/Trash/files/a\u202Etxt.exe"), "x");
    EXPECT_TRUE(desktop->alerts.isEmpty()) << desktop->alerts.join(u'\n').toStdString();
}

TEST_F(ResultActionsTest, TrashOfAMissingItemAlertsWithoutAsking)
{
    actions().moveItemToTrash(fileItem(tree.str() + "/gone.txt"));
    EXPECT_TRUE(desktop->questions.empty());
    EXPECT_EQ(model().statusMessage(), kMissing);
    EXPECT_EQ(desktop->alerts, QStringList{"无法移到回收站|" + kMissing});
}

TEST_F(ResultActionsTest, ScopeToAFileScopesToItsFolder)
{
    const IndexedItem a = make("sub/a.txt");
    actions().scopeToItem(a);
    EXPECT_EQ(model().searchSession().constraints().scopedPath().toStdString(), tree.str() + "/sub");
    actions().scopeToItem(folder("other"));
    EXPECT_EQ(model().searchSession().constraints().scopedPath().toStdString(), tree.str() + "/other");
}

} // namespace
} // namespace pallix
