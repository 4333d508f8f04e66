#include "UI/Common/SelectableTextOverlay.h"

#include <algorithm>

#include <QSet>

namespace pallix {

SelectableTextOverlay::SelectableTextOverlay(QWidget* viewport) : QObject(viewport), m_viewport(viewport) {}

void SelectableTextOverlay::show(const std::vector<Item>& items)
{
    QSet<QString> wanted;
    for (const Item& item : items)
        wanted.insert(item.id);
    for (const QString& id : m_labels.keys()) {
        if (!wanted.contains(id))
            remove(id);
    }
    for (const Item& item : items)
        place(item);
}

QList<SelectableLabel*> SelectableTextOverlay::labels(const QString& id) const
{
    QList<SelectableLabel*> out;
    for (const QPointer<SelectableLabel>& label : m_labels.value(id))
        out.append(label);
    return out;
}

void SelectableTextOverlay::place(const Item& item)
{
    QList<QPointer<SelectableLabel>>& labels = m_labels[item.id];
    while (labels.size() < static_cast<qsizetype>(item.texts.size())) {
        auto* label = new SelectableLabel(m_viewport);
        connect(label, &SelectableLabel::pressed, this, [this, id = item.id] { emit pressed(id); });
        labels.append(label);
    }
    while (labels.size() > static_cast<qsizetype>(item.texts.size())) {
        if (QPointer<SelectableLabel> extra = labels.takeLast()) {
            extra->hide();
            extra->deleteLater();
        }
    }
    for (std::size_t i = 0; i < item.texts.size(); ++i) {
        const Text& text = item.texts[i];
        SelectableLabel* label = labels[static_cast<qsizetype>(i)];
        if (label->font() != text.font)
            label->setFont(text.font);
        label->setTextColor(text.color);
        label->setAlignment(text.alignment);
        label->setLineRule(text.rule);
        label->setText(text.text);
        // Never lower than its lines: a view steps lines by the whole-pixel
        // height, and the last line's descenders reach below it.
        QRect rect = text.rect;
        rect.setHeight(std::max(rect.height(), label->heightForWidth(rect.width())));
        label->setGeometry(rect);
        label->show();
    }
}

// The label may be handling its own press: it goes later, and the focus it
// holds goes to the view first rather than to the next widget of the window.
void SelectableTextOverlay::remove(const QString& id)
{
    for (const QPointer<SelectableLabel>& label : m_labels.take(id)) {
        if (!label)
            continue;
        if (label->hasFocus() && m_viewport->parentWidget())
            m_viewport->parentWidget()->setFocus(Qt::OtherFocusReason);
        label->hide();
        label->deleteLater();
    }
}

} // namespace pallix
