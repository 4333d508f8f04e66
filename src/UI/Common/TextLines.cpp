#include "UI/Common/TextLines.h"

#include <algorithm>

#include <QFontMetrics>
#include <QTextLayout>

namespace pallix::TextLines {

namespace {

// How much of `text` a line `width` wide holds before it breaks (one character at least).
int breakLength(const QString& text, const QFont& font, int width, QTextOption::WrapMode wrap)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(wrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid())
        line.setLineWidth(width);
    layout.endLayout();
    return line.isValid() ? std::max(1, line.textLength()) : static_cast<int>(text.size());
}

// The text's [line.shownStart, shownEnd) fitted into `width`: whole, or its
// head, "…" and its tail, the "…" standing for the characters between.
void fit(Line& line, const QString& text, int shownEnd, const QFontMetrics& metrics, int width, Qt::TextElideMode mode)
{
    const QString part = text.mid(line.shownStart, shownEnd - line.shownStart);
    line.shown = metrics.elidedText(part, mode, width);
    line.hiddenEnd = shownEnd;
    if (line.shown == part)
        return;
    // Read back from the two strings: the font may draw "…" as three dots.
    const qsizetype size = line.shown.size();
    const qsizetype most = std::min(size, part.size()) - 1;
    qsizetype head = 0;
    while (head < most && line.shown[head] == part[head])
        ++head;
    qsizetype tail = 0;
    while (tail < most - head && line.shown[size - 1 - tail] == part[part.size() - 1 - tail])
        ++tail;
    line.ellipsis = static_cast<int>(head);
    line.ellipsisEnd = static_cast<int>(size - tail);
    line.hiddenEnd = shownEnd - static_cast<int>(tail);
}

// Leaves the spaces around the line unshown; returns where its shown characters end.
int dropSpaces(const QString& text, Line& line)
{
    int end = line.end;
    while (line.shownStart < end && text[line.shownStart].isSpace())
        ++line.shownStart;
    while (end > line.shownStart && text[end - 1].isSpace())
        --end;
    return end;
}

// The text's characters character `index` of line.shown stands for.
std::pair<int, int> characters(const Line& line, int index)
{
    if (line.ellipsis < 0 || index < line.ellipsis)
        return {line.shownStart + index, line.shownStart + index + 1};
    if (index < line.ellipsisEnd)
        return {line.shownStart + line.ellipsis, line.hiddenEnd};
    const int at = line.hiddenEnd + index - line.ellipsisEnd;
    return {at, at + 1};
}

} // namespace

std::vector<Line> lines(const QString& text, const QFont& font, int width, Rule rule)
{
    std::vector<Line> out;
    const QFontMetrics metrics(font);
    const bool middle = rule.elide == Qt::ElideMiddle;
    const auto wrap = middle ? QTextOption::WordWrap : QTextOption::WrapAtWordBoundaryOrAnywhere;
    const int size = static_cast<int>(text.size());
    for (int start = 0; start < size && static_cast<int>(out.size()) < rule.maximumLines;) {
        const bool last = static_cast<int>(out.size()) + 1 == rule.maximumLines;
        Line line;
        line.start = line.shownStart = start;
        line.end = last ? size : start + breakLength(text.mid(start), font, width, wrap);
        const int shownEnd = middle ? dropSpaces(text, line) : line.end;
        if (shownEnd == line.shownStart && !out.empty())
            break;  // only spaces are left
        if (last || middle) {
            fit(line, text, shownEnd, metrics, width, rule.elide);
        } else {
            line.shown = text.mid(start, line.end - start);
            line.hiddenEnd = line.end;
        }
        start = line.end;
        out.push_back(std::move(line));
    }
    return out;
}

QStringList shown(const std::vector<Line>& lines)
{
    QStringList out;
    for (const Line& line : lines)
        out.append(line.shown);
    return out;
}

int textPosition(const Line& line, int cursor)
{
    if (cursor >= line.shown.size())
        return line.end;
    if (line.ellipsis < 0 || cursor <= line.ellipsis)
        return line.shownStart + cursor;
    if (cursor < line.ellipsisEnd)
        return line.hiddenEnd;
    return line.hiddenEnd + cursor - line.ellipsisEnd;
}

std::pair<int, int> shownRange(const Line& line, int from, int to)
{
    int first = -1;
    int last = -1;
    for (int index = 0; index < line.shown.size(); ++index) {
        const auto [begin, end] = characters(line, index);
        if (begin < to && end > from) {
            first = first < 0 ? index : first;
            last = index + 1;
        }
    }
    return first < 0 ? std::pair{0, 0} : std::pair{first, last};
}

} // namespace pallix::TextLines
