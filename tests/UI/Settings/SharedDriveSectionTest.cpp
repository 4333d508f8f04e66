#include "UI/Settings/SharedDriveSection.h"

#include <atomic>
#include <future>

#include <QAction>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QToolButton>

#include "App/ServerTestSupport.h"
#include "SettingsTestSupport.h"
#include "UI/Settings/PathLists.h"

namespace pallix {
namespace {

using namespace testing_support;

const QString kEnable = "启用共享盘索引（后台扫描，独立库）";
const QString kAutoResume = "启动时自动续扫共享盘索引（可关闭，避免打开就跑）";

QStringList labelTexts(QWidget* root)
{
    QStringList out;
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (label->isVisibleTo(root))
            out << label->text();
    }
    return out;
}

struct SharedDriveSectionTest : SettingsFixture {
    SharedDriveSection& section()
    {
        if (!view)
            show();
        return *view->sharedDriveSection();
    }
    std::vector<std::string> roots() { return model().settings().serverIndexedRoots; }
    SharedDrives& drives() { return model().sharedDrives(); }
    // The section's folder rows, as built for the current list.
    QList<PathRowCard*> rows()
    {
        processPendingUi();
        return section().rootsList()->findChildren<PathRowCard*>();
    }
    bool messageShows(const QString& text) { return section().messageLabel()->isVisibleTo(view.get()) && section().messageLabel()->text() == text; }
};

TEST_F(SharedDriveSectionTest, EveryControlInTheEditionWithSharedDrivesAndNoneInTheOther)
{
    show(AppEdition::Mardell);
    SharedDriveSection* s = view->sharedDriveSection();
    ASSERT_NE(s, nullptr);
    for (const QString& text : {kEnable, QString("本机 + 外接"), QString("共享盘"), kAutoResume})
        EXPECT_NE(view->toggle(text), nullptr) << text.toStdString();
    for (const char* text : {"添加共享盘目录…", "手动更新共享盘索引", "清除共享盘目录"})
        EXPECT_NE(buttonTitled(s, text), nullptr) << text;
    const QStringList labels = labelTexts(s);
    EXPECT_TRUE(labels.contains("可同时勾选：两边都搜；至少保留一侧开启（全关会自动恢复另一侧，避免出现空结果）。"));
    EXPECT_TRUE(labels.contains("共享盘索引写入独立数据库，不影响本机搜索速度。首次建立索引可能较久；挂载断开时会暂停。"));
    // No folders: the hint, no list, no update, an empty index; no message, no room taken.
    EXPECT_TRUE(labels.contains("尚未识别到共享盘目录（请先在文件管理器挂载服务器，并确保存在“青岚共享盘 / 白桦素材区”）。"));
    EXPECT_FALSE(labels.contains("共享盘索引目录："));
    EXPECT_FALSE(s->rootsList()->isVisibleTo(s));
    EXPECT_FALSE(s->updateButton()->isEnabled());
    EXPECT_TRUE(s->clearButton()->isEnabled());
    EXPECT_EQ(s->statusLabel()->text(), "状态：已收录 0 项");
    EXPECT_FALSE(s->messageLabel()->isVisibleTo(s));

    show(AppEdition::Qel);
    EXPECT_EQ(view->sharedDriveSection(), nullptr);
    EXPECT_EQ(view->toggle(kEnable), nullptr);
    EXPECT_EQ(view->toggle("共享盘"), nullptr);
    EXPECT_EQ(buttonTitled(view.get(), "添加共享盘目录…"), nullptr);
    EXPECT_EQ(buttonTitled(view.get(), "清除共享盘目录"), nullptr);
}

TEST_F(SharedDriveSectionTest, SwitchesWriteThroughTheModelAndShowTheStoredValueAfterARestart)
{
    section().enableToggle()->click();
    EXPECT_TRUE(model().settings().enableServerIndexing);
    EXPECT_TRUE(reloaded().enableServerIndexing);
    // On with no folder: the model starts looking for them and says so.
    EXPECT_TRUE(messageShows("正在识别共享盘目录…（请先在文件管理器挂载服务器）"));
    section().autoResumeToggle()->click();
    EXPECT_TRUE(reloaded().autoResumeServerIndexingOnLaunch);

    restart();
    EXPECT_TRUE(section().enableToggle()->isChecked());
    EXPECT_TRUE(section().autoResumeToggle()->isChecked());
    section().enableToggle()->click();
    EXPECT_FALSE(reloaded().enableServerIndexing);
    // Off clears the message, which then takes no room.
    EXPECT_FALSE(section().messageLabel()->isVisibleTo(view.get()));
    drives().updateAutoResumeServerIndexingOnLaunch(false);  // a change made elsewhere shows too
    EXPECT_FALSE(section().autoResumeToggle()->isChecked());
}

TEST_F(SharedDriveSectionTest, ScopeBoxesNeverEndBothOff)
{
    QCheckBox* local = section().localScopeToggle();
    QCheckBox* server = section().serverScopeToggle();
    ASSERT_TRUE(local->isChecked() && server->isChecked());
    local->click();  // both on: only the shared drives stay
    EXPECT_FALSE(local->isChecked());
    EXPECT_TRUE(server->isChecked());
    server->click();  // the last side off brings the other back
    EXPECT_TRUE(local->isChecked());
    EXPECT_FALSE(server->isChecked());
    EXPECT_TRUE(reloaded().includeLocalInSearch);
    EXPECT_FALSE(reloaded().includeServerInSearch);
    local->click();  // only local on: unchecking it turns the shared drives on
    EXPECT_FALSE(model().settings().includeLocalInSearch);
    EXPECT_TRUE(model().settings().includeServerInSearch);
    EXPECT_TRUE(server->isChecked());
    local->click();  // turning a side on changes nothing else
    EXPECT_TRUE(local->isChecked() && server->isChecked());
    ASSERT_TRUE(h.settle());
}

TEST_F(SharedDriveSectionTest, ChooserAddsEveryPickedFolderInOneCallAndCancelAddsNothing)
{
    const fs::path base = h.support.path() / "mounts";
    for (const char* name : {"甲", "乙", "丙", "丁 素材"})
        fs::create_directories(base / name);
    std::vector<std::size_t> published;
    QObject::connect(&model(), &AppModel::settingsChanged, &model(),
                     [&] { published.push_back(roots().size()); });

    section().addButton()->click();  // returns at once: the dialog is not run modally
    auto* dialog = view->findChild<QFileDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(dialog->testOption(QFileDialog::ReadOnly));
    EXPECT_EQ(dialog->findChild<QListView*>("listView")->selectionMode(), QAbstractItemView::ExtendedSelection);
    dialog->reject();
    EXPECT_TRUE(roots().empty());
    EXPECT_TRUE(published.empty());
    processPendingUi();

    // Three folders named in the dialog's name field: all in one call.
    section().addButton()->click();
    dialog = view->findChild<QFileDialog*>();
    ASSERT_NE(dialog, nullptr);
    dialog->setDirectory(QString::fromStdString(base.string()));
    dialog->findChild<QLineEdit*>("fileNameEdit")->setText(R"("甲" "乙" "丙")");
    static_cast<QDialog*>(dialog)->accept();  // public on the base
    const std::vector<std::string> three = {(base / "甲").string(), (base / "乙").string(), (base / "丙").string()};
    ASSERT_TRUE(waitFor([&] { return roots() == three; }));
    ASSERT_FALSE(published.empty());
    EXPECT_EQ(published.front(), 3u);
    EXPECT_TRUE(model().settings().enableServerIndexing);
    EXPECT_EQ(section().rootsList()->paths().size(), 3);
    EXPECT_FALSE(section().hintLabel()->isVisibleTo(view.get()));
    processPendingUi();

    // A whole path typed into the field, space included.
    section().addButton()->click();
    dialog = view->findChild<QFileDialog*>();
    ASSERT_NE(dialog, nullptr);
    dialog->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString((base / "丁 素材").string()));
    static_cast<QDialog*>(dialog)->accept();
    ASSERT_TRUE(waitFor([&] { return roots().size() == 4; }));
    EXPECT_EQ(roots().back(), (base / "丁 素材").string());
    EXPECT_EQ(reloaded().serverIndexedRoots, roots());
    EXPECT_TRUE(waitFor([&] { return !drives().isServerIndexing(); }));
}

TEST_F(SharedDriveSectionTest, RemoveByButtonAndMenuThenClear)
{
    h.presetSettings([](AppSettings& s) { s.serverIndexedRoots = {"/srv/a", "/srv/b", "/srv/c", "/srv/d", "/srv/e"}; });
    restart();
    EXPECT_FALSE(section().hintLabel()->isVisibleTo(view.get()));
    EXPECT_TRUE(labelTexts(&section()).contains("共享盘索引目录："));
    EXPECT_FALSE(section().updateButton()->isEnabled());  // folders, but the switch is off

    QList<PathRowCard*> shown = rows();
    ASSERT_EQ(shown.size(), 5);
    EXPECT_EQ(shown[2]->findChild<QToolButton*>()->toolTip(), "移除此共享盘目录");
    shown[2]->findChild<QToolButton*>()->click();
    EXPECT_EQ(roots(), (std::vector<std::string>{"/srv/a", "/srv/b", "/srv/d", "/srv/e"}));
    EXPECT_TRUE(messageShows("已移除共享盘目录"));

    shown = rows();
    ASSERT_EQ(shown.size(), 4);
    ASSERT_EQ(shown[2]->actions().size(), 1);
    EXPECT_EQ(shown[2]->actions()[0]->text(), "移除此共享盘目录");
    shown[2]->actions()[0]->trigger();
    EXPECT_EQ(roots(), (std::vector<std::string>{"/srv/a", "/srv/b", "/srv/e"}));
    EXPECT_EQ(reloaded().serverIndexedRoots, roots());

    rows()[0]->actions()[0]->trigger();
    rows()[0]->actions()[0]->trigger();
    rows()[0]->actions()[0]->trigger();  // the last one brings the hint back
    EXPECT_TRUE(roots().empty());
    EXPECT_TRUE(section().hintLabel()->isVisibleTo(view.get()));
    EXPECT_FALSE(section().rootsList()->isVisibleTo(view.get()));
    EXPECT_TRUE(messageShows("共享盘目录已清空，将重新识别…"));

    h.presetSettings([](AppSettings& s) { s.serverIndexedRoots = {"/srv/a"}; });
    restart();
    section().clearButton()->click();
    EXPECT_TRUE(roots().empty());
    EXPECT_TRUE(reloaded().serverIndexedRoots.empty());
    EXPECT_TRUE(section().hintLabel()->isVisibleTo(view.get()));
    EXPECT_TRUE(messageShows("已清除共享盘目录，将重新识别…（请先在文件管理器挂载服务器）"));
    section().clearButton()->click();  // also on an empty list
    EXPECT_TRUE(messageShows("已清除共享盘目录，将重新识别…（请先在文件管理器挂载服务器）"));
}

// The shared-drive runs are the model's own here, and the share's walk can
// be held in one folder while the test looks at the section.
struct SharedDriveRunTest : SharedDriveSectionTest {
    std::atomic<bool> armed{false}, reached{false};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();

    fs::path share() const { return h.support.path() / "shares" / "青岚共享盘"; }

    void SetUp() override
    {
        useRealServerServices(h);
        writeFile(share() / "a.jpg");
        writeFile(share() / "批次" / "b.jpg");
        h.presetSettings([&](AppSettings& s) { s.serverIndexedRoots = {share().string()}; });
        h.env.scanner.listingFault = [this, held = (share() / "批次").string()](const std::string& path) {
            if (path == held && armed.exchange(false)) {
                reached = true;
                released.wait();
            }
            return 0;
        };
        SettingsFixture::SetUp();
    }
    void TearDown() override
    {
        letGo();  // never leave a walk held
        SettingsFixture::TearDown();
        h.stop();  // before the promise goes
    }
    void letGo()
    {
        if (!m_letGo.exchange(true))
            release.set_value();
    }

private:
    std::atomic<bool> m_letGo{false};
};

TEST_F(SharedDriveRunTest, ARunningScanDisablesTheUpdateAndShowsItsCount)
{
    QPushButton* update = section().updateButton();
    EXPECT_FALSE(update->isEnabled());  // switch off

    armed = true;
    section().enableToggle()->click();  // with a folder: the first scan starts
    ASSERT_TRUE(waitFor([&] { return reached.load(); }));
    EXPECT_TRUE(drives().isServerIndexing());
    EXPECT_FALSE(update->isEnabled());
    const QString running = section().statusLabel()->text();
    EXPECT_TRUE(running.startsWith("状态：正在建立共享盘索引（") && running.endsWith(" 项）")) << running.toStdString();
    letGo();

    // The share, its folder and the two images.
    ASSERT_TRUE(waitFor([&] { return !drives().isServerIndexing(); }));
    EXPECT_EQ(section().statusLabel()->text(), "状态：已收录 4 项");
    EXPECT_TRUE(update->isEnabled());
    EXPECT_TRUE(messageShows("共享盘索引已建立（4 项）"));

    // While the update runs the button is off: seen the moment the run begins.
    std::vector<bool> enabledWhileRunning;
    QObject::connect(&drives(), &SharedDrives::isServerIndexingChanged, update, [&] {
        if (drives().isServerIndexing())
            enabledWhileRunning.push_back(update->isEnabled());
    });
    writeFile(share() / "c.jpg");
    update->click();
    ASSERT_TRUE(waitFor([&] { return section().messageLabel()->text().startsWith("共享盘索引已更新（5 项"); }));
    EXPECT_EQ(enabledWhileRunning, std::vector<bool>{false});
    EXPECT_EQ(section().statusLabel()->text(), "状态：已收录 5 项");
    EXPECT_TRUE(update->isEnabled());
}

} // namespace
} // namespace pallix
