#include "Core/Search/CandidateScoring.h"

#include "Core/Search/SearchEngine.h"
#include "Core/Search/SearchFilters.h"

namespace pallix {

namespace {

constexpr Rank kPatternRank = SearchEngine::kPatternRank;
constexpr Rank kFilterOnlyRank = SearchEngine::kFilterOnlyRank;

} // namespace

std::optional<Rank> rankIgnoringExclusions(const ItemRef& item, const ItemFacts* facts, const FolderForms* folder,
                                           const PreparedQuery& q, Rank ceiling)
{
    if (!passesAttributeFilters(item, q))
        return std::nullopt;
    switch (q.mode) {
    case PreparedQuery::Mode::Nothing:
        return std::nullopt;
    case PreparedQuery::Mode::Wildcard:
        if (kPatternRank > ceiling)
            return std::nullopt;
        if (facts && q.plainWildcard && facts->has(ItemFacts::PlainName))
            return matchesPlainWildcard(item.name, *q.plainWildcard, q.query.caseSensitive)
                       ? std::optional<Rank>(kPatternRank)
                       : std::nullopt;
        return matchesWildcard(item, *q.wildcard, q.regexWatch) ? std::optional<Rank>(kPatternRank) : std::nullopt;
    case PreparedQuery::Mode::RegexTokens:
        if (kPatternRank > ceiling)
            return std::nullopt;
        return matchesAllExpressions(item, q.regexes, q.regexWatch) ? std::optional<Rank>(kPatternRank) : std::nullopt;
    case PreparedQuery::Mode::FilterOnly:
        return kFilterOnlyRank > ceiling ? std::nullopt : std::optional<Rank>(kFilterOnlyRank);
    case PreparedQuery::Mode::Ranked:
        return nameMatchRank(item, q, ceiling, folder);
    }
    return std::nullopt;
}

bool passesExclusions(const ItemRef& item, const ItemFacts* facts, const PreparedQuery& q)
{
    if (facts ? q.query.excludeSystemJunk && facts->has(ItemFacts::Junk) : !passesJunkFilter(item, q))
        return false;
    const bool artifact =
        facts ? facts->has(ItemFacts::ToolingArtifact) : IndexedItem::isLowPriorityToolingArtifact(item);
    // Developer-tool files only show for a plain search whose single token is their name.
    if ((q.mode == PreparedQuery::Mode::FilterOnly || q.mode == PreparedQuery::Mode::Ranked) && artifact) {
        const bool namedExactly = q.artifactToken && (q.query.caseSensitive
                                                          ? text::canonicallyEqual(*q.artifactToken, item.name)
                                                          : *q.artifactToken == item.searchName);
        return q.mode == PreparedQuery::Mode::Ranked && namedExactly;
    }
    return true;
}

int kindOrderOf(const ItemRef& item, const ItemFacts* facts)
{
    return facts ? facts->kindOrder() : IndexedItem::displayKindOrder(item);
}

} // namespace pallix
