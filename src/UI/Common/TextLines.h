#pragma once
// TextLines: the lines a box shows of a text, each cut with "…" where it is
// too wide, under one rule for the painted texts and the SelectableLabels
// laid over them, so a label shows what the painting showed. Each line keeps
// which characters of the text it stands for, so a selection over it maps
// back to the text. GUI thread only (it measures with the fonts).

#include <utility>
#include <vector>

#include <QFont>
#include <QString>
#include <QStringList>

namespace pallix::TextLines {

// How a text breaks and where it is cut.
//   Qt::ElideRight: each line but the last wraps at words, else anywhere;
//     the last takes the rest and is cut at its end.
//   Qt::ElideMiddle: each line but the last breaks between words (a word
//     wider than the box stays whole), the last takes the rest; the spaces
//     around a line are dropped, and a line too wide is elided in its
//     middle, so the end of the text (a file's extension) stays whole.
struct Rule {
    int maximumLines = 1;
    Qt::TextElideMode elide = Qt::ElideRight;
    bool operator==(const Rule&) const = default;
};

// One shown line and the characters of the text it stands for.
struct Line {
    QString shown;        // what is drawn, "…" included
    int start = 0;        // the line stands for the text's [start, end),
    int end = 0;          //   dropped spaces included
    int shownStart = 0;   // the text's position of shown[0]
    int ellipsis = -1;    // "…" is shown[ellipsis, ellipsisEnd); -1: nothing is hidden
    int ellipsisEnd = -1;
    int hiddenEnd = 0;    // "…" hides the text's [shownStart + ellipsis, hiddenEnd)
};

// The lines of `text` in a box `width` pixels wide; none for an empty text.
std::vector<Line> lines(const QString& text, const QFont& font, int width, Rule rule);
QStringList shown(const std::vector<Line>& lines);

// The text's position at cursor position `cursor` of line.shown: past a "…"
// is past all it hides, and the end of the line is its end.
int textPosition(const Line& line, int cursor);

// The part of line.shown, as [first, second), showing any of the text's
// [from, to): a "…" is in it when a character it hides is.
std::pair<int, int> shownRange(const Line& line, int from, int to);

} // namespace pallix::TextLines
