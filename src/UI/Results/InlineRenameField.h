#pragma once
// InlineRenameField: the one-line field placed over an item's painted name
// while the user renames it in place. It takes the focus and selects the whole
// name once it is shown, writes the draft to the session on every edit and
// takes the session's draft only when it differs (so the caret and the
// selection survive a republish), and reports three endings: Return or Tab
// commit, Escape cancels, losing the focus any other way ends editing. An
// ending by key swallows the focus loss that follows it. GUI thread only.

#include <QLineEdit>

namespace pallix {

class SearchSession;

class InlineRenameField : public QLineEdit {
    Q_OBJECT

public:
    InlineRenameField(SearchSession& session, int pixelSize, QWidget* parent = nullptr);

signals:
    void commitRequested();
    void cancelRequested();
    void editingEnded();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void showModelDraft();
    void endByKey(void (InlineRenameField::*ending)());
    void takeFocus();

    SearchSession& m_session;
    bool m_skipNextEndEditing = false;
};

} // namespace pallix
