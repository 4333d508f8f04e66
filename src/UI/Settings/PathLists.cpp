#include "UI/Settings/PathLists.h"

#include <QAction>
#include <QHBoxLayout>
#include <QIcon>
#include <QToolButton>

#include "App/Paths/ShownNames.h"
#include "UI/Settings/ElidingLabel.h"
#include "UI/Settings/SettingsStyle.h"

namespace pallix {

using settingsstyle::TextStyle;

QStringList toQStringList(const std::vector<std::string>& list)
{
    QStringList out;
    for (const std::string& s : list)
        out << QString::fromStdString(s);
    return out;
}

void clearRowsLater(QLayout* rows)
{
    while (QLayoutItem* item = rows->takeAt(0)) {
        if (QWidget* row = item->widget()) {
            row->hide();
            row->deleteLater();
        }
        delete item;
    }
}

void PathRowCard::paintEvent(QPaintEvent*)
{
    settingsstyle::paintCard(this, 8, 1.0);
}

PathListBase::PathListBase(const QString& emptyText, QWidget* parent)
    : QWidget(parent), m_emptyText(emptyText), m_rows(new QVBoxLayout(this))
{
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(6);
}

void PathListBase::setPaths(const QStringList& paths)
{
    // Rebuilding on every settings change would drop the hover and focus of
    // the rows for changes that do not touch this list.
    if (m_built && paths == m_paths)
        return;
    m_paths = paths;
    m_built = true;
    rebuild();
}

void PathListBase::rebuild()
{
    clearRowsLater(m_rows);
    if (m_paths.isEmpty()) {
        auto* card = new PathRowCard(this);
        auto* layout = new QHBoxLayout(card);
        layout->setContentsMargins(10, 10, 10, 10);
        layout->addWidget(settingsstyle::label(m_emptyText, TextStyle::Callout, true, true));
        m_rows->addWidget(card);
        return;
    }
    for (int offset = 0; offset < m_paths.size(); ++offset)
        m_rows->addWidget(makeRow(m_paths[offset], offset));
}

CompactPathList::CompactPathList(const QString& emptyText, QWidget* parent) : PathListBase(emptyText, parent)
{
    setPaths({});
}

QWidget* CompactPathList::makeRow(const QString& path, int)
{
    auto* card = new PathRowCard(this);
    auto* layout = new QHBoxLayout(card);
    layout->setContentsMargins(10, 7, 10, 7);
    auto* text = new ElidingLabel(shownnames::shown(path), 1);
    settingsstyle::applyTextStyle(text, TextStyle::MonoCallout);
    layout->addWidget(text);
    return card;
}

RemovablePathList::RemovablePathList(const QString& emptyText, const QString& removeTitle,
                                     std::function<void(const std::set<int>&)> onRemove, QWidget* parent)
    : PathListBase(emptyText, parent), m_removeTitle(removeTitle), m_onRemove(std::move(onRemove))
{
    setPaths({});
}

QWidget* RemovablePathList::makeRow(const QString& path, int offset)
{
    auto* card = new PathRowCard(this);
    auto* layout = new QHBoxLayout(card);
    layout->setContentsMargins(10, 7, 10, 7);
    layout->setSpacing(8);
    auto* text = new ElidingLabel(shownnames::shown(path), 2);
    settingsstyle::applyTextStyle(text, TextStyle::MonoCallout);
    layout->addWidget(text, 1);

    const auto remove = [this, offset] {
        if (m_onRemove)
            m_onRemove({offset});
    };
    auto* trash = new QToolButton(card);
    trash->setAutoRaise(true);
    trash->setToolTip(m_removeTitle);
    const QIcon icon = QIcon::fromTheme(QStringLiteral("user-trash-symbolic"), QIcon::fromTheme(QStringLiteral("user-trash")));
    if (icon.isNull())
        trash->setText(m_removeTitle);
    else
        trash->setIcon(icon);
    connect(trash, &QToolButton::clicked, this, remove);
    layout->addWidget(trash);

    // The row's context menu holds the same removal.
    auto* action = new QAction(m_removeTitle, card);
    connect(action, &QAction::triggered, this, remove);
    card->addAction(action);
    card->setContextMenuPolicy(Qt::ActionsContextMenu);
    return card;
}

} // namespace pallix
