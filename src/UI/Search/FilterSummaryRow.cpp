#include "UI/Search/FilterSummaryRow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "App/Search/SearchConstraints.h"
#include "UI/Common/FilterTitles.h"
#include "UI/Common/RoundedShape.h"
#include "UI/Search/ChipStyle.h"

namespace pallix {

FilterSummaryRow::FilterSummaryRow(SearchConstraints& constraints, QWidget* parent)
    : QWidget(parent), m_constraints(constraints)
{
    setObjectName(QStringLiteral("filterSummary"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(8);
    m_text = new QLabel;
    m_text->setFont(chipstyle::font(12, QFont::Medium));
    m_text->setForegroundRole(QPalette::PlaceholderText);
    m_text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);  // one line, cut rather than wrapped
    layout->addWidget(m_text, 1);
    m_restore = new QPushButton(QStringLiteral("恢复默认"));
    m_restore->setFlat(true);
    m_restore->setCursor(Qt::PointingHandCursor);
    connect(m_restore, &QPushButton::clicked, this, [this] { m_constraints.resetSearchConstraints(); });
    layout->addWidget(m_restore);

    connect(&m_constraints, &SearchConstraints::contentFiltersChanged, this, &FilterSummaryRow::showModelState);
    showModelState();
}

void FilterSummaryRow::setPanelExpanded(bool expanded)
{
    m_panelExpanded = expanded;
    showModelState();
}

QString FilterSummaryRow::text() const
{
    return m_text->text();
}

void FilterSummaryRow::showModelState()
{
    const QString summary = filtertitles::summary(m_constraints.contentFilters());
    m_text->setText(summary);
    setVisible(!m_panelExpanded && !summary.isEmpty());
}

void FilterSummaryRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintRoundedShape(painter, rect(), 9, chipstyle::controlBackground(palette(), 0.65), chipstyle::hairline());
}

} // namespace pallix
