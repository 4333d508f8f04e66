#include "UI/Search/WelcomeSheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "UI/Search/ChipStyle.h"

namespace pallix {

namespace {

QLabel* paragraph(const QString& text)
{
    auto* label = new QLabel(text);
    label->setWordWrap(true);  // never cut: the sheet grows with the text
    label->setFont(chipstyle::font(13, QFont::Normal));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

WelcomeSheet::WelcomeSheet(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("welcomeSheet"));
    setWindowTitle(QStringLiteral("欢迎使用珀溪"));
    setWindowModality(Qt::WindowModal);

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(22, 22, 22, 22);
    stack->setSpacing(14);
    auto* title = new QLabel(QStringLiteral("欢迎使用珀溪"));
    title->setFont(chipstyle::font(17, QFont::DemiBold));
    stack->addWidget(title);
    for (const QString& text :
         {QStringLiteral("首次运行会自动扫描本机与已连接的外接硬盘，文件多时可能要几分钟甚至更久。"),
          QStringLiteral("扫描期间就可以输入关键词搜索；索引越多，结果会越全。若觉得偏少，可稍等或到菜单选择「重建索引」。"),
          QStringLiteral("网络共享盘不会自动加入，请在「设置 → 索引目录」里手动添加。")})
        stack->addWidget(paragraph(text));

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 6, 0, 0);
    buttons->addStretch(1);
    m_start = new QPushButton(QStringLiteral("开始使用"));
    m_start->setDefault(true);
    m_start->setAutoDefault(true);
    m_start->setStyleSheet(QStringLiteral("QPushButton { background: palette(highlight); color: palette(highlighted-text); "
                                          "border: none; border-radius: 6px; padding: 5px 16px; }"));
    connect(m_start, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(m_start);
    stack->addLayout(buttons);
    // The height follows the wrapped paragraphs, and the sheet never gets
    // shorter than they need at its narrowest.
    setMinimumSize(kMinimumWidth, heightForWidth(kMinimumWidth));
    resize(minimumSize());
}

} // namespace pallix
