#include "UI/Common/SelectableLabel.h"

#include <algorithm>
#include <cmath>

#include <QFocusEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTextBoundaryFinder>
#include <QTextLayout>

namespace pallix {

namespace {

// One line, laid out as the painted names are: the width given, aligned in it.
std::unique_ptr<QTextLayout> lineLayout(const QString& shown, const QFont& font, int width, Qt::Alignment alignment)
{
    auto layout = std::make_unique<QTextLayout>(shown, font);
    QTextOption option(alignment & Qt::AlignHorizontal_Mask);
    option.setWrapMode(QTextOption::NoWrap);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);
    layout->beginLayout();
    QTextLine line = layout->createLine();
    line.setLineWidth(width);
    line.setPosition(QPointF(0, 0));
    layout->endLayout();
    return layout;
}

} // namespace

SelectableLabel::SelectableLabel(QWidget* parent) : QWidget(parent), m_color(palette().color(QPalette::Text))
{
    setFocusPolicy(Qt::ClickFocus);
    setCursor(Qt::IBeamCursor);
    // The owner decides the width; the height follows the lines at that width.
    QSizePolicy policy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

SelectableLabel::~SelectableLabel() = default;

void SelectableLabel::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    m_anchor = m_cursor = 0;
    invalidate();
}

void SelectableLabel::setTextColor(const QColor& color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
}

void SelectableLabel::setAlignment(Qt::Alignment alignment)
{
    if (alignment == m_alignment)
        return;
    m_alignment = alignment;
    invalidate();
}

void SelectableLabel::setLineRule(TextLines::Rule rule)
{
    rule.maximumLines = std::max(1, rule.maximumLines);
    if (rule == m_rule)
        return;
    m_rule = rule;
    invalidate();
}

QString SelectableLabel::selectedText() const
{
    const int from = std::min(m_anchor, m_cursor);
    return m_text.mid(from, std::max(m_anchor, m_cursor) - from);
}

QStringList SelectableLabel::shownLines() const
{
    QStringList shown;
    for (const Line& line : lines())
        shown.append(line.text.shown);
    return shown;
}

int SelectableLabel::lineCount() const
{
    return static_cast<int>(lines().size());
}

void SelectableLabel::invalidate()
{
    m_linesValid = false;
    updateGeometry();
    update();
}

// Read from the width itself: a hidden label gets no resize events.
int SelectableLabel::wrapWidth() const
{
    if (width() > 1 && width() != m_wrapWidth) {
        m_wrapWidth = width();
        m_linesValid = false;
    }
    return m_wrapWidth;
}

const std::vector<SelectableLabel::Line>& SelectableLabel::lines() const
{
    const int wrap = wrapWidth();
    if (!m_linesValid) {
        m_lines = layoutLines(std::max(1, wrap));
        m_linesValid = true;
    }
    return m_lines;
}

std::vector<SelectableLabel::Line> SelectableLabel::layoutLines(int width) const
{
    std::vector<Line> out;
    const int height = QFontMetrics(font()).height();
    for (TextLines::Line& text : TextLines::lines(m_text, font(), width, m_rule)) {
        Line line;
        line.layout = lineLayout(text.shown, font(), width, m_alignment);
        line.text = std::move(text);
        line.top = static_cast<double>(out.size()) * height;
        out.push_back(std::move(line));
    }
    return out;
}

QSize SelectableLabel::sizeHint() const
{
    const int wrap = wrapWidth();
    const int width = wrap > 1 ? wrap : QFontMetrics(font()).horizontalAdvance(m_text);
    return {width, heightForWidth(width)};
}

QSize SelectableLabel::minimumSizeHint() const
{
    return {0, heightForWidth(wrapWidth())};
}

int SelectableLabel::heightForWidth(int width) const
{
    const std::size_t count =
        width > 1 ? TextLines::lines(m_text, font(), width, m_rule).size() : lines().size();
    const int shown = std::max(1, static_cast<int>(count));
    return (shown - 1) * QFontMetrics(font()).height() + static_cast<int>(std::ceil(QFontMetricsF(font()).height()));
}

void SelectableLabel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // A layout pass before the owner's may give no width: the last real one stays.
    if (width() > 1 && width() != m_wrapWidth) {
        wrapWidth();
        invalidate();
    }
}

void SelectableLabel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        invalidate();
    QWidget::changeEvent(event);
}

namespace {

// The lines' block, centred as a painted line is (by the font's own height),
// or at the top.
double firstTop(int height, std::size_t lines, const QFont& font, Qt::Alignment alignment)
{
    if (!(alignment & Qt::AlignVCenter) || lines == 0)
        return 0;
    const double block = static_cast<double>(lines - 1) * QFontMetrics(font).height() + QFontMetricsF(font).height();
    return (height - block) / 2;
}

} // namespace

void SelectableLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(m_color);
    const int from = std::min(m_anchor, m_cursor);
    const int to = std::max(m_anchor, m_cursor);
    const double top = firstTop(height(), lines().size(), font(), m_alignment);
    for (const Line& line : lines()) {
        QList<QTextLayout::FormatRange> selection;
        const auto [begin, end] = TextLines::shownRange(line.text, from, to);
        if (end > begin) {
            QTextLayout::FormatRange range{begin, end - begin, {}};
            range.format.setBackground(palette().brush(QPalette::Highlight));
            range.format.setForeground(palette().brush(QPalette::HighlightedText));
            selection.append(range);
        }
        line.layout->draw(&painter, QPointF(0, top + line.top), selection);
    }
}

int SelectableLabel::positionAt(QPointF pos) const
{
    const std::vector<Line>& shown = lines();
    if (shown.empty())
        return 0;
    const double top = firstTop(height(), shown.size(), font(), m_alignment);
    const int index = static_cast<int>(std::floor((pos.y() - top) / QFontMetrics(font()).height()));
    const Line& line = shown[static_cast<std::size_t>(std::clamp(index, 0, static_cast<int>(shown.size()) - 1))];
    return TextLines::textPosition(line.text, line.layout->lineAt(0).xToCursor(pos.x()));
}

void SelectableLabel::setSelection(int anchor, int cursor)
{
    if (anchor == m_anchor && cursor == m_cursor)
        return;
    m_anchor = anchor;
    m_cursor = cursor;
    update();
}

void SelectableLabel::copySelection(QClipboard::Mode mode) const
{
    QGuiApplication::clipboard()->setText(selectedText(), mode);
}

void SelectableLabel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    emit pressed();
    const int position = positionAt(event->position());
    m_selecting = true;
    setSelection(position, position);
}

void SelectableLabel::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_selecting) {
        event->ignore();
        return;
    }
    setSelection(m_anchor, positionAt(event->position()));
}

// X11's primary selection gets what the mouse selected, as every text does there.
void SelectableLabel::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_selecting) {
        event->ignore();
        return;
    }
    m_selecting = false;
    if (hasSelection() && QGuiApplication::clipboard()->supportsSelection())
        copySelection(QClipboard::Selection);
}

void SelectableLabel::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const int position = positionAt(event->position());
    QTextBoundaryFinder words(QTextBoundaryFinder::Word, m_text);
    words.setPosition(position);
    const qsizetype start = words.isAtBoundary() ? position : words.toPreviousBoundary();
    words.setPosition(position);
    const qsizetype end = words.toNextBoundary();
    setSelection(static_cast<int>(std::max<qsizetype>(0, start)),
                 static_cast<int>(end < 0 ? m_text.size() : end));
    m_selecting = false;
}

// Ctrl+C with a selection is ours, not the window's shortcut.
bool SelectableLabel::event(QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride && hasSelection()
        && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void SelectableLabel::keyPressEvent(QKeyEvent* event)
{
    if (hasSelection() && event->matches(QKeySequence::Copy)) {
        copySelection(QClipboard::Clipboard);
        event->accept();
        return;
    }
    event->ignore();
}

// A menu or another window takes the focus for a while only.
void SelectableLabel::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    if (event->reason() != Qt::PopupFocusReason && event->reason() != Qt::ActiveWindowFocusReason)
        setSelection(m_cursor, m_cursor);
}

} // namespace pallix
