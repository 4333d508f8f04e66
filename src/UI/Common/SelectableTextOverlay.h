#pragma once
// SelectableTextOverlay: SelectableLabels laid over the painted texts of a few
// items of a painted view (the selected and the hovered one), so that their
// names and subtitles can be selected and copied. The view paints the
// texts of every other item and leaves those of a covered item to the
// labels. An item keeps its labels, and their selections, for as long as it
// stays among those shown; a press on a label reports its item. GUI thread only.

#include <vector>

#include <QFont>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>

#include "UI/Common/SelectableLabel.h"

namespace pallix {

class SelectableTextOverlay : public QObject {
    Q_OBJECT

public:
    // One label: where it stands (in the viewport; it grows down when its
    // lines need more) and what and how it shows.
    struct Text {
        QRect rect;
        QString text;
        QFont font;
        QColor color;
        Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
        TextLines::Rule rule{};  // as the view paints it
    };
    struct Item {
        QString id;
        std::vector<Text> texts;
    };

    // Labels become children of `viewport`; the focus of a removed label goes to its parent.
    explicit SelectableTextOverlay(QWidget* viewport);

    // Shows labels for these items only, in the given places.
    void show(const std::vector<Item>& items);
    bool covers(const QString& id) const { return !id.isEmpty() && m_labels.contains(id); }
    // The labels of a covered item, in the order of its texts.
    QList<SelectableLabel*> labels(const QString& id) const;

signals:
    void pressed(const QString& id);

private:
    void place(const Item& item);
    void remove(const QString& id);

    QWidget* m_viewport;
    QHash<QString, QList<QPointer<SelectableLabel>>> m_labels;
};

} // namespace pallix
