#include "UI/Settings/SettingsView.h"

#include <QFileDialog>
#include <QTest>

#include "SettingsTestSupport.h"
#include "UI/Settings/CompactSection.h"
#include "UI/Settings/LimitStepper.h"
#include "UI/Settings/PathLists.h"

namespace pallix {
namespace {

using namespace testing_support;

std::vector<QString> titles(const SettingsView& view)
{
    std::vector<QString> out;
    for (const CompactSection* section : view.sections())
        out.push_back(section->title());
    return out;
}

using SettingsViewTest = SettingsFixture;

TEST_F(SettingsViewTest, SectionsFollowTheEdition)
{
    EXPECT_EQ(titles(show(AppEdition::Mardell)),
              (std::vector<QString>{"自动索引", "共享盘索引（独立库）", "索引目录", "索引范围", "运行选项",
                                    "搜索历史与常用词"}));
    EXPECT_EQ(titles(show(AppEdition::Qel)),
              (std::vector<QString>{"自动索引", "索引目录", "索引范围", "运行选项", "搜索历史与常用词"}));
    EXPECT_EQ(view->findChildren<CompactSection*>().size(), 5);
    EXPECT_EQ(view->size(), QSize(720, 560));
}

TEST_F(SettingsViewTest, RescanButtonFollowsIndexingWithoutReopening)
{
    show();
    QAbstractButton* rescan = view->rescanButton();
    ASSERT_TRUE(rescan->isEnabled());
    rescan->click();
    EXPECT_TRUE(model().localIndex().isIndexing());
    EXPECT_FALSE(rescan->isEnabled());
    ASSERT_TRUE(h.settle());
    EXPECT_TRUE(rescan->isEnabled());
}

TEST_F(SettingsViewTest, StepperStepsByHundredAndStopsAtTheBounds)
{
    EXPECT_EQ(LimitStepper::stepped(200, -1), 200);
    EXPECT_EQ(LimitStepper::stepped(10000, 1), 10000);
    EXPECT_EQ(LimitStepper::stepped(1250, 1), 1350);
    EXPECT_EQ(LimitStepper::stepped(1100, 1), 1200);

    show();
    LimitStepper* stepper = view->limitStepper();
    EXPECT_EQ(stepper->textLabel()->text(), "单次搜索结果上限：10000");
    EXPECT_FALSE(stepper->upButton()->isEnabled());
    stepper->downButton()->click();
    EXPECT_EQ(model().settings().searchLimit, 9900);
    EXPECT_EQ(reloaded().searchLimit, 9900);
    EXPECT_EQ(stepper->textLabel()->text(), "单次搜索结果上限：9900");
    EXPECT_TRUE(stepper->upButton()->isEnabled());

    model().settingsOperations().updateSearchLimit(300);
    EXPECT_EQ(stepper->textLabel()->text(), "单次搜索结果上限：300");
    stepper->downButton()->click();
    EXPECT_EQ(model().settings().searchLimit, 200);
    EXPECT_FALSE(stepper->downButton()->isEnabled());
}

TEST_F(SettingsViewTest, ALimitOf1200ChosenWithTheStepperSurvivesARestart)
{
    model().settingsOperations().updateSearchLimit(1100);
    show();
    view->limitStepper()->upButton()->click();
    EXPECT_EQ(model().settings().searchLimit, 1200);
    restart();
    show();
    EXPECT_EQ(view->limitStepper()->textLabel()->text(), "单次搜索结果上限：1200");
}

TEST_F(SettingsViewTest, AddTakesTheTypedPathAndAlwaysClearsTheField)
{
    show();
    const fs::path folder = h.support.path() / "with space";
    fs::create_directories(folder);
    // Every key, Space included, reaches the field.
    QTest::keyClicks(view->pathField(), QString::fromStdString(folder.string() + "/"));
    EXPECT_EQ(view->pathField()->text().toStdString(), folder.string() + "/");
    QTest::keyClick(view->pathField(), Qt::Key_Return);  // ends the edit, adds nothing
    EXPECT_TRUE(model().settings().indexedRoots.empty());

    view->addButton()->click();
    EXPECT_TRUE(view->pathField()->text().isEmpty());
    EXPECT_EQ(model().settings().indexedRoots, std::vector<std::string>{folder.string()});
    EXPECT_EQ(view->rootsList()->paths(), QStringList{QString::fromStdString(folder.string())});

    // Ignored by the model (already there, or empty): the field empties anyway.
    view->pathField()->setText(QString::fromStdString(folder.string()));
    view->addButton()->click();
    EXPECT_TRUE(view->pathField()->text().isEmpty());
    view->addButton()->click();
    EXPECT_EQ(model().settings().indexedRoots.size(), 1u);
    ASSERT_TRUE(h.settle());
}

TEST_F(SettingsViewTest, ChooseDirectoryOpensWithoutBlockingAndCancelChangesNothing)
{
    show();
    view->pathField()->setText("typed");
    view->chooseButton()->click();  // returns at once: the dialog is not run modally here
    QFileDialog* dialog = view->findChild<QFileDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
    dialog->reject();
    EXPECT_TRUE(model().settings().indexedRoots.empty());
    EXPECT_EQ(view->pathField()->text(), "typed");
    processPendingUi();

    const fs::path folder = h.support.path() / "chosen";
    fs::create_directories(folder);
    view->chooseButton()->click();
    dialog = view->findChild<QFileDialog*>();
    ASSERT_NE(dialog, nullptr);
    dialog->setDirectory(QString::fromStdString(h.support.str()));
    dialog->selectFile(QString::fromStdString(folder.string()));
    static_cast<QDialog*>(dialog)->accept();  // public on the base
    EXPECT_TRUE(waitFor([&] { return model().settings().indexedRoots == std::vector<std::string>{folder.string()}; }));
    EXPECT_EQ(view->pathField()->text(), "typed");
    ASSERT_TRUE(h.settle());
}

TEST_F(SettingsViewTest, EverySwitchWritesThroughItsOperationAndShowsTheStoredValueAfterARestart)
{
    const QString texts[] = {
        "自动索引外接硬盘（可移除卷）",
        "过滤系统目录与垃圾文件（缓存、回收站、/proc、/sys、/tmp、系统库与状态目录等）",
        "开机启动",
        "托盘显示图标（常驻，随时打开搜索）",
        "后台保持活跃（切回来更快，不做定时扫描）",
        "后台持续监听索引变化",
        "图片内容模糊搜索（实验：杯子/花/猫等）",
    };
    show();
    std::vector<bool> before;
    for (const QString& text : texts) {
        SCOPED_TRACE(text.toStdString());
        QCheckBox* box = view->toggle(text);
        ASSERT_NE(box, nullptr);
        before.push_back(box->isChecked());
        box->click();
        EXPECT_NE(box->isChecked(), before.back());
    }
    const AppSettings stored = reloaded();
    const bool flipped[] = {stored.autoIndexExternalVolumes, stored.excludeSystemJunkFromIndex, stored.launchAtLogin,
                            stored.showMenuBarIcon, stored.keepAppWarmInBackground, stored.keepIndexerInBackground,
                            stored.enableImageFuzzySearch};
    for (std::size_t i = 0; i < std::size(texts); ++i)
        EXPECT_NE(flipped[i], before[i]) << texts[i].toStdString();
    // The effects ran: the tray hook, the keep-warm activity, the autostart entry.
    EXPECT_TRUE(h.logged("menuBar:0"));
    EXPECT_TRUE(h.logged("keepWarm:begin"));
    EXPECT_TRUE(fs::exists(config.path() / "autostart" / (AppEditionInfo::applicationIdentifier() + ".desktop")));

    restart();
    show();
    for (std::size_t i = 0; i < std::size(texts); ++i)
        EXPECT_EQ(view->toggle(texts[i])->isChecked(), flipped[i]) << texts[i].toStdString();
}

TEST_F(SettingsViewTest, SwitchShowsAChangeMadeElsewhere)
{
    show();
    QCheckBox* box = view->toggle("后台持续监听索引变化");
    ASSERT_TRUE(box->isChecked());
    model().settingsOperations().updateKeepIndexerInBackground(false);
    EXPECT_FALSE(box->isChecked());
}

TEST_F(SettingsViewTest, DiscoveredDisksFollowTheExternalVolumesSwitch)
{
    const QString root = QString::fromStdString(h.rootFolder().string());
    const QString usb = QString::fromStdString((h.support.path() / "usb").string());
    h.env.volumes = std::make_shared<FixedVolumeProvider>(
        std::vector<MountedVolume>{localVolume(root.toStdString()), localVolume(usb.toStdString(), true)});
    restart();
    show();
    EXPECT_EQ(view->discoveredList()->paths(), (QStringList{root, usb}));
    view->toggle("自动索引外接硬盘（可移除卷）")->click();
    EXPECT_EQ(view->discoveredList()->paths(), QStringList{root});
    EXPECT_TRUE(model().localIndex().isIndexing());  // the full rescan started
    ASSERT_TRUE(h.settle());
}

TEST_F(SettingsViewTest, DiscoveredDisksAndEmptyTexts)
{
    show();
    EXPECT_EQ(view->discoveredList()->paths(), QStringList{QString::fromStdString(h.rootFolder().string())});
    EXPECT_TRUE(view->rootsList()->paths().isEmpty());
    EXPECT_NE(view->rootsList()->findChild<QLabel*>(), nullptr);
    EXPECT_EQ(view->rootsList()->findChild<QLabel*>()->text(), "未添加额外索引目录");
}

TEST_F(SettingsViewTest, EscapeClosesTheWindow)
{
    show();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    QTest::keyClick(view->pathField(), Qt::Key_Escape);
    EXPECT_TRUE(waitFor([&] { return !view->isVisible(); }));
}

} // namespace
} // namespace pallix
