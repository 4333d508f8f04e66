#pragma once
// SearchConstraints: what narrows and orders the search beside its text (sort
// field and direction, content filters, case, match mode, folder scope and
// its history) and how the window presents the lists (display mode, grid
// zoom). The search session reads them into each query and searches again
// when searchWanted() says a change asks for it; the filter panel, the
// toolbar and the results area bind to it. GUI thread only.

#include <cstdint>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include <QObject>
#include <QString>

#include "Core/Search/SearchQuery.h"

namespace pallix {

class AppContext;

// How the search window presents results.
enum class ResultDisplayMode { List, Grid };
std::string_view rawValue(ResultDisplayMode mode);  // "list", "grid"
std::optional<ResultDisplayMode> resultDisplayModeFromRaw(std::string_view raw);

class SearchConstraints : public QObject {
    Q_OBJECT

    // Each property announces changes only.
    Q_PROPERTY(pallix::SearchSortField sortField READ sortField NOTIFY sortFieldChanged)
    Q_PROPERTY(bool sortAscending READ sortAscending NOTIFY sortAscendingChanged)
    Q_PROPERTY(std::set<pallix::SearchContentFilter> contentFilters READ contentFilters NOTIFY contentFiltersChanged)
    Q_PROPERTY(bool caseSensitive READ caseSensitive WRITE setCaseSensitive NOTIFY caseSensitiveChanged)
    Q_PROPERTY(pallix::SearchMatchMode matchMode READ matchMode WRITE setMatchMode NOTIFY matchModeChanged)
    Q_PROPERTY(pallix::ResultDisplayMode displayMode READ displayMode WRITE setDisplayMode NOTIFY displayModeChanged)
    Q_PROPERTY(double gridZoom READ gridZoom NOTIFY gridZoomChanged)
    Q_PROPERTY(QString scopedPath READ scopedPath NOTIFY scopedPathChanged)

public:
    explicit SearchConstraints(const AppContext& context, QObject* parent = nullptr);

    SearchSortField sortField() const { return m_sortField; }
    bool sortAscending() const { return m_sortAscending; }
    const std::set<SearchContentFilter>& contentFilters() const { return m_contentFilters; }
    bool caseSensitive() const { return m_caseSensitive; }
    // The switch and the mode control of the window; the window asks for an
    // immediate search after changing them.
    void setCaseSensitive(bool caseSensitive);
    SearchMatchMode matchMode() const { return m_matchMode; }
    void setMatchMode(SearchMatchMode mode);
    ResultDisplayMode displayMode() const { return m_displayMode; }
    void setDisplayMode(ResultDisplayMode mode);
    double gridZoom() const { return m_gridZoom; }
    // Empty: the global scope; a path is never empty.
    const QString& scopedPath() const { return m_scopedPath; }
    const std::vector<QString>& scopeHistory() const { return m_scopeHistory; }
    std::int64_t scopeHistoryIndex() const { return m_scopeHistoryIndex; }

    // Each but the zoom asks for a search at once.
    void updateSort(SearchSortField field);
    void updateContentFilter(SearchContentFilter filter);
    // The direction chip: reverses the order of the current field.
    void toggleSortDirection();
    // The match chips: sets the mode (also the current one) and searches again.
    void applyMatchMode(SearchMatchMode mode);
    void adjustGridZoom(double delta);
    void resetGridZoom();
    // An empty path is the global scope.
    void applyScopedPath(const QString& path, bool recordHistory);
    // Back to the global scope when a folder scope is or was set.
    void clearScope();
    void resetSearchConstraints();

signals:
    void sortFieldChanged();
    void sortAscendingChanged();
    void contentFiltersChanged();
    void caseSensitiveChanged();
    void matchModeChanged();
    void displayModeChanged();
    void gridZoomChanged();
    void scopedPathChanged();
    // A change that asks for an immediate search, after its own announcements.
    void searchWanted();

private:
    const AppContext& m_context;
    SearchSortField m_sortField = SearchSortField::Name;
    bool m_sortAscending = true;
    std::set<SearchContentFilter> m_contentFilters{SearchContentFilter::All};
    bool m_caseSensitive = false;
    SearchMatchMode m_matchMode = SearchMatchMode::Contains;
    ResultDisplayMode m_displayMode = ResultDisplayMode::Grid;
    double m_gridZoom = 1.0;
    QString m_scopedPath;
    std::vector<QString> m_scopeHistory{QString()};  // one entry: no scope
    std::int64_t m_scopeHistoryIndex = 0;
};

} // namespace pallix
