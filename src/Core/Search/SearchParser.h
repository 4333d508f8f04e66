#pragma once
// SearchParser: turns the typed line and the window's options into a SearchQuery.
// Keeps no state between calls besides its clock; parse() may run on any thread.

#include <memory>
#include <optional>
#include <set>
#include <string_view>

#include "Core/Search/SearchQuery.h"
#include "Platform/Clock.h"

namespace pallix {

class SearchParser {
public:
    // `clock` gives "now" for the relative "dm:" values; dates are read in the
    // process's time zone (TZ).
    explicit SearchParser(std::shared_ptr<const Clock> clock = Clock::system());

    // Name tokens (NFC) and the words they came from, plus the inline "ext:", "path:", "type:", "dm:", "re:" parts
    // and the wildcard pattern. Never fails.
    SearchQuery parse(std::string_view text, std::set<SearchContentFilter> contentFilters, bool caseSensitive,
                      SearchMatchMode matchMode, SearchSortField sortField, bool ascending,
                      bool excludeSystemJunk) const;

    // "today", "yesterday", "last7d", "last30d" or yyyy-MM-dd (local midnight);
    // nothing for any other value. `value` arrives lower-cased.
    std::optional<Date> parseModifiedAfter(std::string_view value) const;

private:
    std::shared_ptr<const Clock> m_clock;
};

} // namespace pallix
