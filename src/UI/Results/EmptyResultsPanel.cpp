#include "UI/Results/EmptyResultsPanel.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "App/Paths/ShownNames.h"
#include "App/Search/SearchSession.h"
#include "UI/Common/FilterTitles.h"
#include "UI/Common/ResultPainting.h"
#include "UI/Common/ResultSymbols.h"
#include "UI/Settings/ElidingLabel.h"

namespace pallix {

namespace {

constexpr int kLineTitleWidth = 64;
constexpr int kLineValueWidth = 420;
constexpr int kLineValueLines = 2;
constexpr int kOfferWidth = 520;

QLabel* label(const QString& text, double pixelSize, bool secondary, QFont::Weight weight = QFont::Normal)
{
    auto* l = new QLabel(text);
    l->setFont(ResultPainting::font(pixelSize, weight));
    if (secondary) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, ResultPainting::secondaryText(p));
        l->setPalette(p);
    }
    return l;
}

QPushButton* button(const QString& title, bool prominent)
{
    auto* b = new QPushButton(title);
    b->setDefault(prominent);
    b->setAutoDefault(false);
    return b;
}

} // namespace

EmptyResultsPanel::EmptyResultsPanel(SearchSession& session, QWidget* parent) : QWidget(parent), m_session(session)
{
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    m_layout = new QVBoxLayout(this);
    m_layout->setSpacing(10);
    m_layout->addStretch(1);
    auto* symbol = new QLabel;
    symbol->setPixmap(ResultSymbols::icon(QStringLiteral("magnifyingglass")).pixmap(28, 28));
    m_layout->addWidget(symbol, 0, Qt::AlignHCenter);
    m_layout->addWidget(label(QStringLiteral("没有找到结果"), 15, false, QFont::DemiBold), 0, Qt::AlignHCenter);
    auto* hint = label(QStringLiteral("通常是范围/筛选/匹配条件导致的。你可以一键恢复默认，再重新搜索。"), 13, true);
    hint->setWordWrap(true);
    hint->setAlignment(Qt::AlignHCenter);
    // The full width: an aligned item gets its size hint, too narrow for the
    // line and too short for the wrapped second one, which was cut off.
    m_layout->addWidget(hint);
    m_layout->addStretch(1);
    for (auto signal : {&SearchConstraints::scopedPathChanged, &SearchConstraints::contentFiltersChanged,
                        &SearchConstraints::matchModeChanged, &SearchConstraints::caseSensitiveChanged})
        connect(&m_session.constraints(), signal, this, &EmptyResultsPanel::rebuild);
    connect(&m_session, &SearchSession::searchTextChanged, this, &EmptyResultsPanel::rebuild);
    rebuild();
}

void EmptyResultsPanel::setVisible(bool visible)
{
    QWidget::setVisible(visible);
    if (visible && m_widgetsStale)
        rebuild();
}

void EmptyResultsPanel::setOffer(const std::optional<Offer>& offer)
{
    m_offer = offer;
    rebuild();
}

QStringList EmptyResultsPanel::detectedTextConstraints(const QString& text)
{
    const QString lower = text.toLower();
    QStringList found;
    for (const char* op : {"ext:", "path:", "type:", "dm:", "re:"}) {
        if (lower.contains(QLatin1String(op)))
            found.append(QLatin1String(op) + QChar(0x2026));
    }
    return found;
}

std::vector<EmptyResultsPanel::Line> EmptyResultsPanel::constraintLines(const Constraints& c)
{
    std::vector<Line> lines;
    if (!c.scopedPath.isEmpty())
        lines.emplace_back(QStringLiteral("当前范围"), shownnames::shown(c.scopedPath));
    if (c.contentFilters != std::set<SearchContentFilter>{SearchContentFilter::All}) {
        QStringList titles;
        for (SearchContentFilter f : c.contentFilters)
            titles.append(filtertitles::title(f));
        // Code-point order of the titles, not the collation: a stable order for any locale.
        std::stable_sort(titles.begin(), titles.end(),
                         [](const QString& a, const QString& b) { return a.toUcs4() < b.toUcs4(); });
        lines.emplace_back(QStringLiteral("筛选类型"), titles.join(QStringLiteral("、")));
    }
    const QStringList operators = detectedTextConstraints(c.searchText);
    if (!operators.isEmpty())
        lines.emplace_back(QStringLiteral("搜索条件"), operators.join(QStringLiteral("  ")));
    QString match = filtertitles::title(c.matchMode);
    if (c.caseSensitive)
        match += QStringLiteral("（区分大小写）");
    lines.emplace_back(QStringLiteral("匹配"), match);
    return lines;
}

QString EmptyResultsPanel::resetButtonTitle(const Constraints& c)
{
    const bool defaults = c.scopedPath.isEmpty() && c.contentFilters == std::set<SearchContentFilter>{SearchContentFilter::All}
                          && c.matchMode == SearchMatchMode::Contains && !c.caseSensitive;
    return defaults ? QStringLiteral("再试一次") : QStringLiteral("清除限制并重试");
}

QStringList EmptyResultsPanel::buttonTitles() const
{
    QStringList titles;
    if (m_dynamic) {
        for (const QPushButton* b : m_dynamic->findChildren<QPushButton*>())
            titles.append(b->text());
    }
    return titles;
}

EmptyResultsPanel::Constraints EmptyResultsPanel::current() const
{
    const SearchConstraints& c = m_session.constraints();
    return Constraints{c.scopedPath(), c.contentFilters(), m_session.searchText(), c.matchMode(), c.caseSensitive()};
}

QWidget* EmptyResultsPanel::lineWidget(const Line& line)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    QLabel* title = label(line.first, 11, true);
    title->setFixedWidth(kLineTitleWidth);
    title->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // A deep scope path would otherwise push the buttons off the panel.
    auto* value = new ElidingLabel(line.second, kLineValueLines, nullptr, Qt::ElideMiddle);
    value->setObjectName(QStringLiteral("constraintValue"));
    value->setFont(ResultPainting::font(11));
    value->setMaximumWidth(kLineValueWidth);
    layout->addWidget(title);
    layout->addWidget(value, 1);
    return row;
}

void EmptyResultsPanel::rebuild()
{
    const Constraints c = current();
    m_lines = constraintLines(c);
    // Hidden while results are listed, when every keystroke changes the text:
    // the widgets are made when the panel shows again.
    m_widgetsStale = isHidden();
    if (m_widgetsStale)
        return;
    delete m_dynamic;
    m_dynamic = new QWidget;
    auto* column = new QVBoxLayout(m_dynamic);
    column->setContentsMargins(0, 6, 0, 0);
    column->setSpacing(6);
    for (const Line& line : m_lines)
        column->addWidget(lineWidget(line), 0, Qt::AlignHCenter);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 4, 0, 0);
    buttons->setSpacing(10);
    buttons->addStretch(1);
    if (!c.scopedPath.isEmpty()) {
        QPushButton* clear = button(QStringLiteral("清除范围"), false);
        connect(clear, &QPushButton::clicked, this, &EmptyResultsPanel::clearScopeRequested);
        buttons->addWidget(clear);
    }
    QPushButton* reset = button(resetButtonTitle(c), true);
    connect(reset, &QPushButton::clicked, this, &EmptyResultsPanel::resetConstraintsRequested);
    buttons->addWidget(reset);
    buttons->addStretch(1);
    column->addLayout(buttons);

    if (m_offer) {
        QLabel* title = label(m_offer->title, 13, true);
        title->setWordWrap(true);
        title->setAlignment(Qt::AlignHCenter);
        title->setMaximumWidth(kOfferWidth);
        column->addSpacing(10);
        column->addWidget(title, 0, Qt::AlignHCenter);
        QPushButton* enable = button(m_offer->actionTitle, false);
        connect(enable, &QPushButton::clicked, this, &EmptyResultsPanel::enableExternalIndexingRequested);
        column->addWidget(enable, 0, Qt::AlignHCenter);
    }
    // After the symbol, the title and the hint; before the closing stretch.
    m_layout->insertWidget(m_layout->count() - 1, m_dynamic, 0, Qt::AlignHCenter);
}

} // namespace pallix
