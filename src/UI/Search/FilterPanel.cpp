#include "UI/Search/FilterPanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

#include "App/Search/SearchConstraints.h"
#include "UI/Common/FilterTitles.h"
#include "UI/Common/RoundedShape.h"
#include "UI/Search/ChipStyle.h"
#include "UI/Search/SelectionChip.h"

namespace pallix {

namespace {

constexpr int kStripHeight = 28;

QLabel* sectionLabel(const QString& text)
{
    auto* label = new QLabel(text);
    label->setFont(chipstyle::font(12, QFont::Medium));
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

// Asks for the width of all its chips; QScrollArea caps its wish at a few
// dozen characters, which would cut the longer strips in a wide window.
class ChipStrip : public QScrollArea {
public:
    QSize sizeHint() const override { return widget() ? widget()->sizeHint() : QScrollArea::sizeHint(); }
};

// A strip that scrolls sideways when the window is too narrow for its chips.
QScrollArea* chipStrip(const QList<SelectionChip*>& chips)
{
    auto* content = new QWidget;
    auto* layout = new QHBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    for (SelectionChip* chip : chips)
        layout->addWidget(chip, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    auto* strip = new ChipStrip;
    strip->setFrameShape(QFrame::NoFrame);
    strip->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    strip->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    strip->setWidgetResizable(true);
    strip->setFixedHeight(kStripHeight);
    strip->setWidget(content);
    strip->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    // As wide as its chips where there is room, narrower (scrolling) where not.
    strip->setMinimumWidth(80);
    strip->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    return strip;
}

template <typename Option, std::size_t N>
QList<SelectionChip*> makeChips(const std::array<Option, N>& options, std::map<Option, SelectionChip*>& chips)
{
    QList<SelectionChip*> made;
    for (Option option : options) {
        auto* chip = new SelectionChip(filtertitles::title(option));
        chip->setObjectName(QString::fromUtf8(rawValue(option).data(), qsizetype(rawValue(option).size())));
        chips[option] = chip;
        made << chip;
    }
    return made;
}

QHBoxLayout* row(QWidget* owner, int spacing)
{
    auto* layout = new QHBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

} // namespace

FilterPanel::FilterPanel(SearchConstraints& constraints, QWidget* parent) : QWidget(parent), m_constraints(constraints)
{
    setObjectName(QStringLiteral("filterPanel"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(9, 6, 9, 6);
    stack->setSpacing(6);
    stack->addWidget(makeFilterRow());
    stack->addWidget(makeSortAndMatchRow());

    for (auto signal : {&SearchConstraints::contentFiltersChanged, &SearchConstraints::sortFieldChanged,
                        &SearchConstraints::sortAscendingChanged, &SearchConstraints::matchModeChanged})
        connect(&m_constraints, signal, this, &FilterPanel::showModelState);
    showModelState();
}

QWidget* FilterPanel::makeFilterRow()
{
    auto* filters = new QWidget;
    QHBoxLayout* layout = row(filters, 8);
    layout->addWidget(sectionLabel(QStringLiteral("筛选")));
    const QList<SelectionChip*> chips = makeChips(filtertitles::kContentFilters, m_filterChips);
    for (auto [filter, chip] : m_filterChips)
        connect(chip, &SelectionChip::clicked, this, [this, f = filter] { m_constraints.updateContentFilter(f); });
    layout->addWidget(chipStrip(chips));
    layout->addStretch(1);
    return filters;
}

QWidget* FilterPanel::makeSortAndMatchRow()
{
    auto* sortGroup = new QWidget;
    QHBoxLayout* sortLayout = row(sortGroup, 8);
    sortLayout->addWidget(sectionLabel(QStringLiteral("排序")));
    QList<SelectionChip*> sortChips = makeChips(filtertitles::kSortFields, m_sortChips);
    for (auto [field, chip] : m_sortChips)
        connect(chip, &SelectionChip::clicked, this, [this, f = field] { m_constraints.updateSort(f); });
    m_directionChip = new SelectionChip(filtertitles::directionTitle(true));
    m_directionChip->setObjectName(QStringLiteral("sortDirection"));
    m_directionChip->setSelected(true);  // always drawn selected
    connect(m_directionChip, &SelectionChip::clicked, this, [this] { m_constraints.toggleSortDirection(); });
    sortChips << m_directionChip;
    sortLayout->addWidget(chipStrip(sortChips));

    auto* matchGroup = new QWidget;
    QHBoxLayout* matchLayout = row(matchGroup, 8);
    matchLayout->addWidget(sectionLabel(QStringLiteral("匹配")));
    const QList<SelectionChip*> matchChips = makeChips(filtertitles::kMatchModes, m_matchChips);
    for (auto [mode, chip] : m_matchChips)
        connect(chip, &SelectionChip::clicked, this, [this, m = mode] { m_constraints.applyMatchMode(m); });
    matchLayout->addWidget(chipStrip(matchChips));

    auto* both = new QWidget;
    QHBoxLayout* layout = row(both, 14);
    layout->addWidget(sortGroup);
    layout->addWidget(matchGroup);
    layout->addStretch(1);
    return both;
}

void FilterPanel::showModelState()
{
    for (auto [filter, chip] : m_filterChips)
        chip->setSelected(m_constraints.contentFilters().contains(filter));
    for (auto [field, chip] : m_sortChips)
        chip->setSelected(field == m_constraints.sortField());
    for (auto [mode, chip] : m_matchChips)
        chip->setSelected(mode == m_constraints.matchMode());
    m_directionChip->setTitle(filtertitles::directionTitle(m_constraints.sortAscending()));
}

void FilterPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintRoundedShape(painter, rect(), 9, chipstyle::controlBackground(palette(), 0.7), chipstyle::hairline());
}

} // namespace pallix
