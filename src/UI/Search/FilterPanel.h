#pragma once
// FilterPanel: the collapsible panel of the search window with three chip
// strips: the content filters (several at once), the sort field with the
// direction chip, and the match mode. Every chip shows a published property
// of the search constraints and a click calls one of their operations, which
// searches again; the panel keeps no state of its own. GUI thread only.

#include <map>

#include <QWidget>

#include "Core/Search/SearchQuery.h"

namespace pallix {

class SearchConstraints;
class SelectionChip;

class FilterPanel : public QWidget {
    Q_OBJECT

public:
    explicit FilterPanel(SearchConstraints& constraints, QWidget* parent = nullptr);

    SelectionChip* chip(SearchContentFilter filter) const { return m_filterChips.at(filter); }
    SelectionChip* chip(SearchSortField field) const { return m_sortChips.at(field); }
    SelectionChip* chip(SearchMatchMode mode) const { return m_matchChips.at(mode); }
    SelectionChip* directionChip() const { return m_directionChip; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* makeFilterRow();
    QWidget* makeSortAndMatchRow();
    void showModelState();

    SearchConstraints& m_constraints;
    std::map<SearchContentFilter, SelectionChip*> m_filterChips;
    std::map<SearchSortField, SelectionChip*> m_sortChips;
    std::map<SearchMatchMode, SelectionChip*> m_matchChips;
    SelectionChip* m_directionChip = nullptr;
};

} // namespace pallix
