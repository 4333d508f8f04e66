#pragma once
// SearchAssistRow: the row under the search field with the common search
// terms and the recent searches as chips, and "收藏当前", which saves the
// search text as a common term. It is rebuilt from the session's settings,
// history and search text; a click on a chip searches for its text, every
// other action calls one session operation and searches nothing. Absent when
// there is no chip. GUI thread only.

#include <QList>
#include <QWidget>

#include "UI/Search/SearchAssistChips.h"

class QPushButton;
class QScrollArea;

namespace pallix {

class SearchSession;
class SettingsOperations;
class FlowLayout;
class TermChip;

class SearchAssistRow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kMaxChipsHeight = 92;

    SearchAssistRow(SearchSession& session, SettingsOperations& settings, QWidget* parent = nullptr);

    QList<TermChip*> chips() const { return m_chips; }
    QPushButton* saveCurrentButton() const { return m_saveCurrent; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void showModelState();
    void rebuildChips(const QList<SearchTermChip>& chips);
    TermChip* makeChip(const SearchTermChip& chip);
    void deleteChip(const SearchTermChip& chip);
    void fitChipsHeight();

    SearchSession& m_session;
    SettingsOperations& m_settings;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_chipsContent = nullptr;
    FlowLayout* m_flow = nullptr;
    QPushButton* m_saveCurrent = nullptr;
    QList<SearchTermChip> m_shown;
    QList<TermChip*> m_chips;
};

} // namespace pallix
