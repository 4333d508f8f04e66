#include "UI/Search/FaultNoticeBar.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "App/Context/FaultNotices.h"

namespace pallix {

FaultNoticeBar::FaultNoticeBar(FaultNotices& notices, QWidget* parent) : QFrame(parent), m_notices(notices)
{
    setObjectName(QStringLiteral("faultNoticeBar"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    QPalette tinted = palette();
    tinted.setColor(QPalette::Window, QColor(0xFF, 0xF4, 0xE0));
    tinted.setColor(QPalette::WindowText, QColor(0x6B, 0x3A, 0x00));
    setPalette(tinted);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 6, 10, 6);
    auto* icon = new QLabel;
    icon->setPixmap(QIcon::fromTheme(QStringLiteral("dialog-warning-symbolic")).pixmap(16, 16));
    row->addWidget(icon, 0, Qt::AlignTop);
    m_text = new QLabel;
    m_text->setObjectName(QStringLiteral("faultNoticeText"));
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(m_text, 1);
    m_dismiss = new QPushButton(QStringLiteral("知道了"));
    m_dismiss->setObjectName(QStringLiteral("dismissFaultNotices"));
    row->addWidget(m_dismiss, 0, Qt::AlignTop);

    connect(m_dismiss, &QPushButton::clicked, this, [this] { m_notices.dismissAll(); });
    connect(&m_notices, &FaultNotices::changed, this, &FaultNoticeBar::showNotices);
    showNotices();
}

void FaultNoticeBar::showNotices()
{
    m_text->setText(m_notices.texts().join(QLatin1Char('\n')));
    setVisible(!m_notices.isEmpty());
}

} // namespace pallix
