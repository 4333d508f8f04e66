#pragma once
// What the session and the shared-drive stage know about a list they showed:
// its signature, and whether it can be filtered in memory for a new query
// instead of asking a store again. Pure functions; any thread.

#include <optional>

#include <QList>
#include <QString>

#include "Core/Models/IndexedItem.h"
#include "Core/Search/SearchQuery.h"

namespace pallix {

// A published result list; implicitly shared, so handing it to views is cheap.
using ItemList = QList<IndexedItem>;

namespace ShownList {

// Count, "|", and the first 180 paths joined by U+001E.
QString signature(const ItemList& items);
// Every field of the two queries but the text and its tokens is the same.
bool sameConstraints(const SearchQuery& a, const SearchQuery& b);
// `shown` (the answer to `shownQuery`) can be filtered in memory for `query`:
// a longer text in a mode where that only narrows.
bool canNarrow(const SearchQuery& query, const ItemList& shown, const std::optional<SearchQuery>& shownQuery);

} // namespace ShownList
} // namespace pallix
