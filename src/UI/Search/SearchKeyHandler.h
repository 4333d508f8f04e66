#pragma once
// SearchKeyHandler: which key presses the search window takes before its
// widgets do. Space previews the selected result, but only in the search
// window, never where a text field would type the space and never while a
// hot key is being recorded; ↑/↓ move the selection while the search field
// or the results have the focus, and Return in the results opens the
// selection. GUI thread only.

#include <QPointer>
#include <QWidget>

class QKeyEvent;

namespace pallix {

class ResultActions;
class SearchSession;

class SearchKeyHandler {
public:
    SearchKeyHandler(SearchSession& session, ResultActions& actions, QWidget* searchView, QWidget* searchField,
                     QWidget* results);

    // True when the press is handled and must be swallowed.
    bool handle(const QKeyEvent& event);

    // A widget where a press of Space types a space.
    static bool takesText(const QWidget* widget);

private:
    bool handleSpace();
    bool handleArrow(int offset);
    bool handleReturn(const QKeyEvent& event);
    // The results, not a text field inside them, hold the keyboard focus.
    bool resultsHaveFocus() const;

    SearchSession& m_session;
    ResultActions& m_actions;
    QPointer<QWidget> m_searchView;  // its window is the search window
    QPointer<QWidget> m_searchField;
    QPointer<QWidget> m_results;
};

} // namespace pallix
