#include "UI/Results/ResultsHeaderView.h"

#include <QFontMetrics>
#include <QPainter>

#include "UI/Common/ResultPainting.h"
#include "UI/Results/ListColumns.h"

namespace pallix {

namespace {
constexpr double kTitlePx = 11;
constexpr int kPaddingY = 7;
} // namespace

ResultsHeaderView::ResultsHeaderView(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ResultsHeaderView::setColumnsWidth(int width)
{
    if (width == m_columnsWidth)
        return;
    m_columnsWidth = width;
    update();
}

QStringList ResultsHeaderView::titles()
{
    return {QStringLiteral("名称"), QStringLiteral("类型"), QStringLiteral("大小"), QStringLiteral("修改日期"),
            QStringLiteral("路径"), QString()};
}

QSize ResultsHeaderView::sizeHint() const
{
    const int height = QFontMetrics(ResultPainting::font(kTitlePx, QFont::DemiBold)).height() + 2 * kPaddingY;
    return {ListColumns::kNameMinWidth, height};
}

void ResultsHeaderView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    painter.setFont(ResultPainting::font(kTitlePx, QFont::DemiBold));
    painter.setPen(ResultPainting::secondaryText(palette()));
    const auto columns = ListColumns::layout(m_columnsWidth > 0 ? m_columnsWidth : width(), 0, height());
    const QStringList names = titles();
    for (int c = 0; c < ListColumns::Count; ++c) {
        const Qt::Alignment align = c == ListColumns::Size ? Qt::AlignRight : Qt::AlignLeft;
        painter.drawText(columns[static_cast<std::size_t>(c)], align | Qt::AlignVCenter, names[c]);
    }
    ResultPainting::paintDivider(painter, 0, width(), height() - 1, palette());
}

} // namespace pallix
