#include "App/Search/ShownList.h"

#include <algorithm>

#include "App/Search/SearchBudgets.h"

namespace pallix::ShownList {

QString signature(const ItemList& items)
{
    const qsizetype n = std::min<qsizetype>(items.size(), searchbudgets::kSignatureItems);
    QString text = QString::number(items.size()) + QLatin1Char('|');
    for (qsizetype i = 0; i < n; ++i) {
        if (i > 0)
            text += QChar(0x1E);
        text += QString::fromUtf8(items[i].id());
    }
    return text;
}

bool sameConstraints(const SearchQuery& a, const SearchQuery& b)
{
    return a.contentFilters == b.contentFilters && a.caseSensitive == b.caseSensitive && a.matchMode == b.matchMode
           && a.sortField == b.sortField && a.ascending == b.ascending && a.pathFilter == b.pathFilter
           && a.extensionFilter == b.extensionFilter && a.typeFilter == b.typeFilter
           && a.modifiedAfter == b.modifiedAfter && a.useRegularExpression == b.useRegularExpression
           && a.wildcardPattern == b.wildcardPattern && a.excludeSystemJunk == b.excludeSystemJunk;
}

bool canNarrow(const SearchQuery& query, const ItemList& shown, const std::optional<SearchQuery>& shownQuery)
{
    if (shown.isEmpty() || !shownQuery)
        return false;
    const std::string& previous = shownQuery->rawText;
    if (previous.empty() || query.rawText.empty() || !query.rawText.starts_with(previous))
        return false;
    // A longer text only narrows where every hit of it was a hit of the shorter
    // one: an exact or suffix match, or a pattern, can match other names.
    const bool narrowingMode = query.matchMode == SearchMatchMode::Contains
                               || query.matchMode == SearchMatchMode::Prefix;
    return narrowingMode && !query.useRegularExpression && sameConstraints(query, *shownQuery);
}

bool canBroaden(const SearchQuery& query, const std::optional<SearchQuery>& shownQuery)
{
    if (!shownQuery)
        return false;
    const std::string& previous = shownQuery->rawText;
    return !previous.empty() && !query.rawText.empty() && query.rawText.size() < previous.size()
           && previous.starts_with(query.rawText) && sameConstraints(query, *shownQuery);
}

} // namespace pallix::ShownList
