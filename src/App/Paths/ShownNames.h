#pragma once
// ShownNames: the one form in which a file or folder name, or a path, is
// drawn. A character that draws nothing, breaks the line or turns the order
// of what follows (a bidirectional control, a control character, a line or
// paragraph separator) would let a name pass for another: `a<U+202E>txt.exe`
// reads "aexe.txt". Each such character is drawn as a visible mark instead,
// a short code in mathematical angle brackets ("⟨RLO⟩", "⟨LF⟩"), so a name
// reads in the order it is stored, on one line. The brackets are not the
// ASCII or CJK ones a name commonly holds, and every mark is in the fonts a
// Debian desktop has (control pictures such as U+2424 are not).
// Only for drawing: opening, renaming, the trash and the clipboard's copies
// of a name or path take the real text (systempaths::display). A selection in
// a shown name copies what it shows. Pure functions; any thread.

#include <string_view>

#include <QString>

namespace pallix::shownnames {

// `text` with each such character replaced by its mark; the same text when
// it holds none.
QString marked(const QString& text);

// The text drawn for a stored name or path: its display form, marked.
QString shown(const QString& stored);
QString shown(std::string_view stored);

} // namespace pallix::shownnames
