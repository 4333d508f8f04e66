#include "UI/Settings/SettingsStyle.h"

#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

namespace pallix::settingsstyle {

void applyTextStyle(QWidget* widget, TextStyle style)
{
    QFont font = style == TextStyle::MonoCallout ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QFont();
    const qreal base = QFont().pointSizeF() > 0 ? QFont().pointSizeF() : 10.0;
    switch (style) {
    case TextStyle::Headline:
        font.setBold(true);
        break;
    case TextStyle::Body:
        break;
    case TextStyle::Callout:
    case TextStyle::MonoCallout:
        font.setPointSizeF(base * 0.95);
        break;
    case TextStyle::Caption:
        font.setPointSizeF(base * 0.85);
        break;
    case TextStyle::Count:
        break;
    }
    widget->setFont(font);
}

void applySecondaryColor(QWidget* widget)
{
    // Active and inactive only: a disabled control keeps its own, paler look,
    // so a dimmed button that is enabled still looks enabled.
    QPalette palette = widget->palette();
    QColor secondary = palette.color(QPalette::Active, QPalette::WindowText);
    secondary.setAlphaF(0.62f);
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        for (auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
            palette.setColor(group, role, secondary);
    }
    widget->setPalette(palette);
}

QLabel* label(const QString& text, TextStyle style, bool secondary, bool wraps, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    applyTextStyle(label, style);
    if (secondary)
        applySecondaryColor(label);
    label->setWordWrap(wraps);
    // Plain text: paths and search terms must never be read as markup.
    label->setTextFormat(Qt::PlainText);
    return label;
}

void paintCard(QWidget* widget, qreal radius, qreal opacity)
{
    QPainter painter(widget);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = widget->palette().color(QPalette::Base);
    fill.setAlphaF(opacity);
    QPainterPath path;
    path.addRoundedRect(QRectF(widget->rect()), radius, radius);
    painter.fillPath(path, fill);
}

} // namespace pallix::settingsstyle
