#include "UI/Settings/SettingsChrome.h"

#include <QHBoxLayout>
#include <QLabel>

#include "UI/Settings/SettingsStyle.h"

namespace pallix {

using settingsstyle::TextStyle;

SettingsHeader::SettingsHeader(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(18, 14, 18, 14);
    layout->setSpacing(12);
    layout->addWidget(settingsstyle::label(QStringLiteral("设置"), TextStyle::Headline, false, false));
    layout->addStretch(1);
    QLabel* mode = settingsstyle::label(QStringLiteral("简单模式"), TextStyle::Caption, true, false);
    mode->setObjectName(QStringLiteral("settingsModeCaption"));
    layout->addWidget(mode);
}

} // namespace pallix
