#include "UI/Settings/LimitStepper.h"

#include <QHBoxLayout>

#include "Core/Config/AppSettings.h"

namespace pallix {

std::int64_t LimitStepper::stepped(std::int64_t current, int steps)
{
    return AppSettings::clampedSearchLimit(current + steps * kStep);
}

LimitStepper::LimitStepper(std::function<std::int64_t()> read, std::function<void(std::int64_t)> write,
                           QWidget* parent)
    : QWidget(parent),
      m_read(std::move(read)),
      m_write(std::move(write)),
      m_text(new QLabel),
      m_down(new QToolButton),
      m_up(new QToolButton)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(m_text);
    m_down->setText(QStringLiteral("－"));
    m_down->setToolTip(QStringLiteral("减少 100"));
    m_up->setText(QStringLiteral("＋"));
    m_up->setToolTip(QStringLiteral("增加 100"));
    // Held down, a button keeps stepping, as a stepper does.
    for (QToolButton* button : {m_down, m_up}) {
        button->setAutoRepeat(true);
        layout->addWidget(button);
    }
    layout->addStretch(1);
    connect(m_down, &QToolButton::clicked, this, [this] { step(-1); });
    connect(m_up, &QToolButton::clicked, this, [this] { step(1); });
    refresh();
}

void LimitStepper::step(int steps)
{
    const std::int64_t current = m_read();
    const std::int64_t next = stepped(current, steps);
    if (next != current)
        m_write(next);
    refresh();
}

void LimitStepper::refresh()
{
    const std::int64_t limit = m_read();
    m_text->setText(QStringLiteral("单次搜索结果上限：%1").arg(limit));
    m_down->setEnabled(limit > AppSettings::kMinSearchLimit);
    m_up->setEnabled(limit < AppSettings::kMaxSearchLimit);
}

} // namespace pallix
