#pragma once
// FilterTitles: the Chinese titles of the filter panel's options, the order
// of its chips, and the summary line shown while the panel is collapsed.
// Pure functions.

#include <array>
#include <set>

#include <QString>

#include "Core/Search/SearchQuery.h"

namespace pallix::filtertitles {

// Every case in declaration order, which is the order of the chips.
inline constexpr std::array kContentFilters{
    SearchContentFilter::All,    SearchContentFilter::Folders, SearchContentFilter::Images,
    SearchContentFilter::Documents, SearchContentFilter::Videos, SearchContentFilter::Normal,
    SearchContentFilter::Archives, SearchContentFilter::Executables};
inline constexpr std::array kSortFields{SearchSortField::Name, SearchSortField::Path, SearchSortField::Size,
                                        SearchSortField::ModifiedAt};
inline constexpr std::array kMatchModes{SearchMatchMode::Contains, SearchMatchMode::Prefix, SearchMatchMode::Suffix,
                                        SearchMatchMode::Exact};

QString title(SearchContentFilter filter);
QString title(SearchSortField field);
QString title(SearchMatchMode mode);
// "升序" or "降序".
QString directionTitle(bool ascending);
// "当前筛选：" and the filters' titles in code-point order, joined by "、";
// empty for the default {all}, when no summary is shown.
QString summary(const std::set<SearchContentFilter>& filters);

} // namespace pallix::filtertitles
