#include "UI/Settings/CompactSection.h"

#include "UI/Settings/SettingsStyle.h"

namespace pallix {

CompactSection::CompactSection(const QString& title, QWidget* parent)
    : QWidget(parent), m_title(title), m_content(new QVBoxLayout)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(10);
    layout->addWidget(settingsstyle::label(title, settingsstyle::TextStyle::Headline, false, false));
    m_content->setContentsMargins(0, 0, 0, 0);
    m_content->setSpacing(10);
    layout->addLayout(m_content);
}

void CompactSection::paintEvent(QPaintEvent*)
{
    settingsstyle::paintCard(this, 12, 0.65);
}

} // namespace pallix
