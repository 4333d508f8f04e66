#include "UI/Shell/QtTranslations.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTranslator>

#include "Core/HotKey/HotKey.h"
#include "UI/Common/HotKeyKeyMap.h"

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

} // namespace
} // namespace pallix
