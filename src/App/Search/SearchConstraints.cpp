#include "App/Search/SearchConstraints.h"

#include <algorithm>
#include <cmath>

#include "App/Context/AppContext.h"
#include "App/Paths/ShownNames.h"
#include "App/Search/GridZoom.h"
#include "Platform/Text.h"

namespace pallix {

namespace {


} // namespace

std::string_view rawValue(ResultDisplayMode mode)
{
    return mode == ResultDisplayMode::List ? "list" : "grid";
}

std::optional<ResultDisplayMode> resultDisplayModeFromRaw(std::string_view raw)
{
    if (raw == "list")
        return ResultDisplayMode::List;
    if (raw == "grid")
        return ResultDisplayMode::Grid;
    return std::nullopt;
}

SearchConstraints::SearchConstraints(const AppContext& context, QObject* parent) : QObject(parent), m_context(context)
{
}

void SearchConstraints::setDisplayMode(ResultDisplayMode mode)
{
    if (mode == m_displayMode)
        return;
    m_displayMode = mode;
    emit displayModeChanged();
}

void SearchConstraints::clearScope()
{
    if (!m_scopedPath.isEmpty() || m_scopeHistoryIndex >= 1)
        applyScopedPath(QString(), true);
}

void SearchConstraints::setCaseSensitive(bool caseSensitive)
{
    if (caseSensitive == m_caseSensitive)
        return;
    m_caseSensitive = caseSensitive;
    emit caseSensitiveChanged();
}

void SearchConstraints::setMatchMode(SearchMatchMode mode)
{
    if (mode == m_matchMode)
        return;
    m_matchMode = mode;
    emit matchModeChanged();
}

void SearchConstraints::updateSort(SearchSortField field)
{
    if (field != m_sortField) {
        m_sortField = field;
        emit sortFieldChanged();
        if (!m_sortAscending) {
            m_sortAscending = true;
            emit sortAscendingChanged();
        }
    } else {
        m_sortAscending = !m_sortAscending;
        emit sortAscendingChanged();
    }
    emit searchWanted();
}

void SearchConstraints::toggleSortDirection()
{
    m_sortAscending = !m_sortAscending;
    emit sortAscendingChanged();
    emit searchWanted();
}

void SearchConstraints::applyMatchMode(SearchMatchMode mode)
{
    setMatchMode(mode);
    emit searchWanted();
}

void SearchConstraints::updateContentFilter(SearchContentFilter filter)
{
    std::set<SearchContentFilter> filters = m_contentFilters;
    if (filter == SearchContentFilter::All) {
        filters = {SearchContentFilter::All};
    } else {
        filters.erase(SearchContentFilter::All);
        if (!filters.erase(filter))
            filters.insert(filter);
        if (filters.empty())
            filters = {SearchContentFilter::All};
    }
    if (filters != m_contentFilters) {
        m_contentFilters = std::move(filters);
        emit contentFiltersChanged();
    }
    emit searchWanted();
}

void SearchConstraints::adjustGridZoom(double delta)
{
    const double zoom = GridZoom::stepped(m_gridZoom, delta);
    if (zoom == m_gridZoom)
        return;
    m_gridZoom = zoom;
    emit gridZoomChanged();
}

void SearchConstraints::resetGridZoom()
{
    if (m_gridZoom == 1.0)
        return;
    m_gridZoom = 1.0;
    emit gridZoomChanged();
}

void SearchConstraints::applyScopedPath(const QString& path, bool recordHistory)
{
    const QString scope = path.isEmpty() ? QString() : QString::fromStdString(paths::standardize(path.toStdString()));
    if (!recordHistory && scope == m_scopedPath)
        return;
    if (scope != m_scopedPath) {
        m_scopedPath = scope;
        emit scopedPathChanged();
    }
    if (recordHistory) {
        // Nothing moves the index back yet, so nothing after it is dropped in practice.
        const auto last = static_cast<std::int64_t>(m_scopeHistory.size()) - 1;
        if (m_scopeHistoryIndex < last)
            m_scopeHistory.resize(static_cast<std::size_t>(m_scopeHistoryIndex + 1));
        if (m_scopeHistory.empty() || m_scopeHistory.back() != scope)
            m_scopeHistory.push_back(scope);
        m_scopeHistoryIndex = static_cast<std::int64_t>(m_scopeHistory.size()) - 1;
    }
    m_context.setStatusMessage(scope.isEmpty()
                         ? QStringLiteral("已回到全局搜索")
                         : QStringLiteral("已切换到 ")
                               + shownnames::shown(paths::lastComponent(scope.toStdString())),
                         StatusKind::Confirmation);
    emit searchWanted();
}

void SearchConstraints::resetSearchConstraints()
{
    clearScope();
    if (m_contentFilters != std::set<SearchContentFilter>{SearchContentFilter::All}) {
        m_contentFilters = {SearchContentFilter::All};
        emit contentFiltersChanged();
    }
    setCaseSensitive(false);
    setMatchMode(SearchMatchMode::Contains);
    emit searchWanted();
}

} // namespace pallix
