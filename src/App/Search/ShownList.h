#pragma once
// What the session and the shared-drive stage know about a list they showed:
// its signature, whether it can be filtered in memory for a new query instead
// of asking a store again, and whether a new query only shortens its text.
// Pure functions; any thread.

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
// `query` is `shownQuery` with characters deleted at the end, under the same
// constraints: the fast preview of the shorter text may come first. The shown
// list itself may be empty.
bool canBroaden(const SearchQuery& query, const std::optional<SearchQuery>& shownQuery);

} // namespace ShownList
} // namespace pallix
