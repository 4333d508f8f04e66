#include "Core/Search/CandidateScoring.h"

#include "Core/Search/SearchFilters.h"

namespace pallix {

namespace {

bool matchesPattern(const ItemRef& item, const ItemFacts* facts, const PreparedQuery& q)
{
    switch (q.mode) {
    case PreparedQuery::Mode::Wildcard:
        if (facts && q.plainWildcard && facts->has(ItemFacts::PlainName))
            return matchesPlainWildcard(item.name, *q.plainWildcard, q.query.caseSensitive);
        return matchesWildcard(item, *q.wildcard, q.regexWatch);
    case PreparedQuery::Mode::RegexTokens: return matchesAllExpressions(item, q.regexes, q.regexWatch);
    case PreparedQuery::Mode::FilterOnly: return true;
    case PreparedQuery::Mode::Nothing:
    case PreparedQuery::Mode::Ranked: break;
    }
    return false;
}

} // namespace

std::optional<Rank> rankIgnoringExclusions(const ItemRef& item, const ItemFacts* facts, const FolderForms* folder,
                                           const PreparedQuery& q, Rank ceiling)
{
    if (!passesAttributeFilters(item, q))
        return std::nullopt;
    if (q.mode == PreparedQuery::Mode::Ranked)
        return nameMatchRank(item, q, ceiling, folder);
    const std::optional<Rank> constant = constantRankOf(q.mode);
    if (!constant || *constant > ceiling || !matchesPattern(item, facts, q))
        return std::nullopt;
    return constant;
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
