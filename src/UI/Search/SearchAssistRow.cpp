#include "UI/Search/SearchAssistRow.h"

#include <algorithm>

#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include "App/Search/SearchSession.h"
#include "App/Settings/SettingsOperations.h"
#include "UI/Common/AfterPaint.h"
#include "UI/Common/Symbols.h"
#include "UI/Search/ChipStyle.h"
#include "UI/Search/FlowLayout.h"
#include "UI/Search/TermChip.h"

namespace pallix {

SearchAssistRow::SearchAssistRow(SearchSession& session, SettingsOperations& settings, QWidget* parent)
    : QWidget(parent), m_session(session), m_settings(settings)
{
    setObjectName(QStringLiteral("searchAssistRow"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(6);
    auto* header = new QLabel(QStringLiteral("搜索记录"));
    header->setFont(chipstyle::font(11, QFont::Normal));
    header->setForegroundRole(QPalette::PlaceholderText);
    stack->addWidget(header);

    m_chipsContent = new QWidget;
    m_flow = new FlowLayout(6, 6, m_chipsContent);
    m_flow->setContentsMargins(0, 2, 4, 2);
    m_saveCurrent = new QPushButton(symbols::icon(QStringLiteral("plus.circle")), QStringLiteral("收藏当前"));
    m_saveCurrent->setObjectName(QStringLiteral("saveCurrentTerm"));
    m_saveCurrent->setFlat(true);
    m_saveCurrent->setFont(chipstyle::font(12, QFont::DemiBold));
    m_saveCurrent->setCursor(Qt::PointingHandCursor);
    connect(m_saveCurrent, &QPushButton::clicked, this,
            [this] { m_session.history().addCommonSearchTerm(m_session.searchText()); });
    m_flow->addWidget(m_saveCurrent);

    m_scroll = new QScrollArea;
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidgetResizable(true);
    m_scroll->setWidget(m_chipsContent);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_chipsContent->setAutoFillBackground(false);
    stack->addWidget(m_scroll);

    for (auto signal : {&SearchSession::settingsChanged, &SearchSession::searchTextChanged})
        connect(&m_session, signal, this, &SearchAssistRow::showModelState);
    // The history changes with each typing answer: its chips are laid out
    // again once the answer's rows are painted, not ahead of them.
    auto* afterPaint = new AfterPaint([this] { showModelState(); }, this);
    connect(&m_session.history(), &SearchHistory::changed, afterPaint, &AfterPaint::request);
    showModelState();
}

void SearchAssistRow::showModelState()
{
    const SearchAssistContent content =
        composeSearchAssist(m_session.settings().commonSearchTerms, m_session.history().entries(), m_session.searchText());
    // Typing changes only the button: the chips (and a hovered one) stay.
    if (content.chips != m_shown)
        rebuildChips(content.chips);
    m_saveCurrent->setVisible(content.showsSaveCurrent);
    setVisible(!content.isEmpty());
    fitChipsHeight();
}

void SearchAssistRow::rebuildChips(const QList<SearchTermChip>& chips)
{
    // A chip still shown keeps its widget (and its hover): a typed word
    // changes one history entry, and making every chip anew took most of a
    // frame after each keystroke's results.
    QList<TermChip*> old = m_chips;
    QList<TermChip*> next;
    for (TermChip* chip : std::as_const(m_chips))
        m_flow->removeWidget(chip);
    m_flow->removeWidget(m_saveCurrent);
    for (const SearchTermChip& chip : chips) {
        const auto same = std::find_if(old.begin(), old.end(), [&](TermChip* c) { return c && c->chip() == chip; });
        if (same != old.end()) {
            next.append(*same);
            *same = nullptr;
        } else {
            next.append(makeChip(chip));
        }
        m_flow->addWidget(next.back());
        next.back()->show();  // the layout would show it only later, after the height is fitted
    }
    // Later: the rebuild may come from a click of one of these chips.
    for (TermChip* chip : std::as_const(old))
        if (chip) {
            chip->hide();
            chip->deleteLater();
        }
    m_flow->addWidget(m_saveCurrent);
    m_chips = next;
    m_shown = chips;
}

TermChip* SearchAssistRow::makeChip(const SearchTermChip& chip)
{
    auto* view = new TermChip(chip, m_chipsContent);
    connect(view, &TermChip::clicked, this, [this, text = chip.text] { m_session.searchForTerm(text); });
    connect(view, &TermChip::deleteRequested, this, [this, chip] { deleteChip(chip); });
    connect(view, &TermChip::addToCommonRequested, this,
            [this, text = chip.text] { m_session.history().addCommonSearchTerm(text); });
    return view;
}

void SearchAssistRow::deleteChip(const SearchTermChip& chip)
{
    if (chip.style == SearchTermChipStyle::History) {
        m_settings.removeSearchHistoryEntry(chip.text);
        return;
    }
    const std::vector<std::string>& terms = m_session.settings().commonSearchTerms;
    const auto it = std::find(terms.begin(), terms.end(), chip.text.toStdString());
    if (it != terms.end())
        m_session.history().removeCommonSearchTerm({static_cast<int>(it - terms.begin())});
}

// As tall as the chips need, up to the cap; more scroll inside.
void SearchAssistRow::fitChipsHeight()
{
    // The row's own width: the viewport's may not have followed a resize yet.
    const int width = std::max(1, contentsRect().width());
    m_scroll->setFixedHeight(std::min(kMaxChipsHeight, m_flow->heightForWidth(width)));
}

void SearchAssistRow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitChipsHeight();
}

} // namespace pallix
