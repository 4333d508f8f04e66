#pragma once
// Scoring one candidate of a prepared query: its rank before the exclusion
// rules, and those rules. Internal to the Search module. Pure; any thread.

#include <optional>

#include "Core/Models/IndexedItem.h"
#include "Core/Search/ItemFacts.h"
#include "Core/Search/PreparedQuery.h"
#include "Core/Search/SearchEngine.h"
#include "Core/Search/SearchRank.h"

namespace pallix {

// The rank every result of a search in `mode` has when the mode ranks no
// names (patterns, filters alone); nothing for the other modes.
inline std::optional<Rank> constantRankOf(PreparedQuery::Mode mode)
{
    switch (mode) {
    case PreparedQuery::Mode::Wildcard:
    case PreparedQuery::Mode::RegexTokens: return SearchEngine::kPatternRank;
    case PreparedQuery::Mode::FilterOnly: return SearchEngine::kFilterOnlyRank;
    case PreparedQuery::Mode::Nothing:
    case PreparedQuery::Mode::Ranked: break;
    }
    return std::nullopt;
}

// The rank of one candidate before the exclusion rules, nothing when it is no
// result or ranks above `ceiling`. `facts` and `folder` (the forms of the
// folder the facts name), when the source keeps them, spare work they answer.
std::optional<Rank> rankIgnoringExclusions(const ItemRef& item, const ItemFacts* facts, const FolderForms* folder,
                                           const PreparedQuery& q, Rank ceiling);

// The junk and developer-tool rules. Run last, on candidates that matched
// otherwise (and, in the heap, would be kept); every test must hold for a
// result, so the order changes no answer.
bool passesExclusions(const ItemRef& item, const ItemFacts* facts, const PreparedQuery& q);

// The kind order, from the facts when there are some.
int kindOrderOf(const ItemRef& item, const ItemFacts* facts);

} // namespace pallix
