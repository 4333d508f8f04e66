#pragma once
// ResultsMenu: the menu "结果" of the search window, nine actions on the
// selected result in four groups. Every action is disabled while the session
// has no selected item. Return and Space appear as menu text only: bound as
// shortcuts they would take the key from the search field and the key
// monitor. Moving to the trash by key acts only while the results hold the
// focus. GUI thread only.

#include <QMenu>

namespace pallix {

class ResultActions;
class SearchSession;

class ResultsMenu : public QMenu {
    Q_OBJECT

public:
    // `results`: where the focus must be for the trash shortcut.
    ResultsMenu(SearchSession& session, ResultActions& actions, QWidget* results, QWidget* parent = nullptr);

private:
    QAction* addItemAction(const QString& title, const QList<QKeySequence>& keys, void (ResultsMenu::*slot)());
    void updateEnabled();
    void openSelected();
    void revealSelected();
    void previewSelected();
    void renameSelected();
    void duplicateSelected();
    void copySelectedFile();
    void copySelectedName();
    void copySelectedPath();
    void trashSelected();

    SearchSession& m_session;
    ResultActions& m_actions;
};

} // namespace pallix
