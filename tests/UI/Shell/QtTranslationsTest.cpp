#include "UI/Shell/QtTranslations.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QDateTime>
#include <QFileInfo>
#include <QTreeView>
#include <QDBusConnection>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include "Core/HotKey/HotKey.h"
#include "UI/Common/HotKeyKeyMap.h"
#include "UI/Settings/DirectoryChooser.h"

namespace pallix {
namespace {

// Qt's own buttons and dialogs speak Chinese; the keys keep the Linux names.
TEST(QtTranslations, StandardButtonsAndTheFileDialogReadChinese)
{
    QTranslator* translator = installQtTranslations(*qApp);
    ASSERT_NE(translator, nullptr) << "qtbase_zh_CN.qm is missing (qt6-translations-l10n)";
    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    EXPECT_EQ(buttons.button(QDialogButtonBox::Ok)->text(), QStringLiteral("确定"));
    EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
    {
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setFileMode(QFileDialog::Directory);
        QStringList texts;
        for (QPushButton* button : dialog.findChildren<QPushButton*>())
            texts << button->text().remove(QRegularExpression(QStringLiteral("\\(&.\\)")));  // "选择(&C)"
        EXPECT_TRUE(texts.contains(QStringLiteral("选择"))) << texts.join(u'|').toStdString();
        EXPECT_TRUE(texts.contains(QStringLiteral("取消"))) << texts.join(u'|').toStdString();
    }
    EXPECT_EQ(hotkeymap::displayText(GlobalHotKey::optionSpace()), QStringLiteral("Alt+Space"));
    QCoreApplication::removeTranslator(translator);
    delete translator;
}

// Under LANG=C.UTF-8 too, the folder chooser's list names a folder's type and
// writes its date in Chinese.
TEST(QtTranslations, TheFolderChoosersListReadsChinese)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("子文件夹")));
    QWidget window;
    chooseDirectories(&window, QStringLiteral("选择目录"), false, [](const QStringList&) {},
                      QDBusConnection(QStringLiteral("no bus")));  // no portal: Qt's own dialog
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.findChild<QFileDialog*>() != nullptr; }, 20000));
    auto* dialog = window.findChild<QFileDialog*>();
    dialog->setDirectory(dir.path());
    auto* view = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) == 1; }, 20000));
    const QModelIndex folder = view->model()->index(0, 0, view->rootIndex());
    EXPECT_EQ(folder.data().toString(), QStringLiteral("子文件夹"));
    EXPECT_EQ(folder.siblingAtColumn(2).data().toString(), QStringLiteral("文件夹"));
    const QDateTime modified = QFileInfo(dir.filePath(QStringLiteral("子文件夹"))).lastModified();
    EXPECT_EQ(folder.siblingAtColumn(3).data().toString(),
              QLocale(QLocale::Chinese, QLocale::China).toString(modified, QLocale::ShortFormat));
    dialog->reject();
}

} // namespace
} // namespace pallix
