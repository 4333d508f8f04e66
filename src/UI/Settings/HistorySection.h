#pragma once
// HistorySection: the content of the settings section "搜索历史与常用词":
// the button that keeps the current search as a common term, the common
// terms with their removal, and the recent searches with "加入常用", "删除"
// and "清除最近搜索". It follows the search text, the recent searches and
// the settings (terms) live and starts no search. GUI thread.

#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

namespace pallix {

class RemovablePathList;
class SearchHistory;
class SearchSession;
class SettingsOperations;

class HistorySection : public QWidget {
    Q_OBJECT

public:
    static const QString& caption();

    HistorySection(SearchSession& search, SettingsOperations& settings, QWidget* parent = nullptr);

    QPushButton* addCurrentButton() const { return m_addCurrent; }
    RemovablePathList* termsList() const { return m_terms; }
    // The recent-search rows, in list order, as built for the current history.
    QWidget* recentBlock() const { return m_recent; }

private:
    void refreshAddButton();
    void refreshTerms();
    void rebuildRecent();
    QWidget* recentRow(const QString& entry);

    SearchSession& m_search;  // the search text
    SearchHistory& m_history;
    SettingsOperations& m_settings;
    QPushButton* m_addCurrent;
    QWidget* m_termsBlock;
    RemovablePathList* m_terms;
    QWidget* m_noTerms;
    QWidget* m_recent;
    QVBoxLayout* m_recentLayout;
};

} // namespace pallix
