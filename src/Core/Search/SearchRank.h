#pragma once
// The tiered name-match rank of one candidate for a prepared query: lower is
// better, nothing when some token matches neither the name nor the path.
// What each tier gives is in RankTiers.h, which the candidate filter's bounds
// read too. Pure; any thread (per-thread scratch buffers, see ItemForms.h).

#include <optional>

#include "Core/Models/IndexedItem.h"
#include "Core/Search/ItemFacts.h"
#include "Core/Search/ItemForms.h"
#include "Core/Search/PreparedQuery.h"
#include "Core/Search/RankTiers.h"

namespace pallix {

// The worst of the tokens' ranks; nothing without tokens, when one token fails, or
// when the rank would be above `ceiling` (a caller that keeps only the best results
// skips the tiers that could not make it). `folder`, when given, holds the forms
// of the item's parent folder, whose path joined with the name is the item's.
std::optional<Rank> nameMatchRank(const ItemRef& item, const PreparedQuery& query, Rank ceiling = kNoRankCeiling,
                                  const FolderForms* folder = nullptr);

// The lowest rank a tier that reads the path can give in `mode` (kNoRankCeiling
// in exact mode, which has none): a token ranked below it matched its name.
Rank firstPathTierRank(SearchMatchMode mode);
// The lowest rank any tier but those of rankForToken() can give in `mode`: a
// rankForToken() result below it is the token's rank.
Rank firstTierBeyondNameRank(SearchMatchMode mode);

// The lowest rank any path tier of `mode` can give a token of
// `comparableCount` / `normalizedCount` characters in a path whose comparable
// and normalised forms have at least `pathCount` / `normalizedPathCount`.
Rank lowestPathTierRank(SearchMatchMode mode, std::size_t pathCount, std::size_t normalizedPathCount,
                        std::size_t comparableCount, std::size_t normalizedCount);

// One token against the name forms only, by match mode.
std::optional<Rank> rankForToken(const PreparedToken& token, const NameForms& names, SearchMatchMode mode);

// One token against the item's path, by match mode.
std::optional<Rank> pathHaystackTokenRank(PathForms& path, const PreparedToken& token, SearchMatchMode mode);

} // namespace pallix
