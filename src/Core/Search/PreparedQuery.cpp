#include "Core/Search/PreparedQuery.h"

#include "Core/Search/SearchEngine.h"

namespace pallix {

namespace {

// Left to right, non-overlapping, like a plain find-and-replace.
std::string replaceAll(std::string_view s, std::string_view from, std::string_view to)
{
    std::string out;
    out.reserve(s.size());
    std::size_t start = 0;
    for (std::size_t at = s.find(from); at != std::string_view::npos; at = s.find(from, start)) {
        out.append(s.substr(start, at - start));
        out.append(to);
        start = at + from.size();
    }
    out.append(s.substr(start));
    return out;
}

PreparedToken prepareToken(const std::string& token, bool caseSensitive)
{
    PreparedToken t;
    // Parsed tokens are NFC already; lower-casing can undo that in rare cases.
    t.comparable = caseSensitive ? text::toNFC(token) : text::toNFC(text::lower(token));
    t.normalized = SearchEngine::normalized(t.comparable);
    t.comparableCount = text::graphemeCount(t.comparable);
    t.normalizedCount = text::graphemeCount(t.normalized);
    return t;
}

} // namespace

std::string PreparedQuery::wildcardExpression(std::string_view pattern)
{
    std::string escaped = text::Regex::escape(pattern);
    escaped = replaceAll(escaped, "\\*", ".*");
    escaped = replaceAll(escaped, "\\?", ".");
    return "^" + escaped + "$";
}

bool PreparedQuery::hasListingFilter(const SearchQuery& q)
{
    const bool onlyAll = q.contentFilters.size() == 1 && q.contentFilters.count(SearchContentFilter::All) == 1;
    return q.pathFilter || q.extensionFilter || q.typeFilter || !onlyAll || q.modifiedAfter;
}

unsigned PreparedQuery::contentMaskOf(const std::set<SearchContentFilter>& filters)
{
    if (filters.empty() || filters.count(SearchContentFilter::All))
        return 0;
    unsigned mask = 0;
    for (SearchContentFilter f : filters) {
        switch (f) {
        case SearchContentFilter::All: break;
        case SearchContentFilter::Folders: mask |= kContentFolders; break;
        case SearchContentFilter::Images: mask |= kContentImages; break;
        case SearchContentFilter::Documents: mask |= kContentDocuments; break;
        case SearchContentFilter::Videos: mask |= kContentVideos; break;
        case SearchContentFilter::Normal: mask |= kContentNormal; break;
        case SearchContentFilter::Archives: mask |= kContentArchives; break;
        case SearchContentFilter::Executables: mask |= kContentExecutables; break;
        }
    }
    return mask;
}

PreparedQuery::PreparedQuery(const SearchQuery& q, text::RegexWatch* watch)
    : query(q)
    , edition(AppEditionInfo::current())
    , regexWatch(watch)
{
    for (const std::string& token : q.tokens) {
        tokens.push_back(prepareToken(token, q.caseSensitive));
        hasEmptyNormalizedToken = hasEmptyNormalizedToken || tokens.back().normalized.empty();
    }
    if (tokens.size() == 1)
        artifactToken = tokens.front().comparable;

    contentMask = contentMaskOf(q.contentFilters);
    if (q.pathFilter)
        pathFilter = q.caseSensitive ? text::toNFC(*q.pathFilter) : text::toNFC(text::lower(*q.pathFilter));

    // Expressions are compiled once here rather than once per candidate; one that
    // does not compile matches nothing, so the whole search has no result.
    if (q.wildcardPattern) {
        std::string pattern = text::toNFC(*q.wildcardPattern);
        wildcard = text::Regex::compile(wildcardExpression(pattern), !q.caseSensitive);
        mode = wildcard ? Mode::Wildcard : Mode::Nothing;
        if (text::isAscii(pattern))
            plainWildcard = std::move(pattern);
        return;
    }
    if (q.useRegularExpression) {
        mode = Mode::RegexTokens;
        for (const std::string& token : q.tokens) {
            std::optional<text::Regex> re = text::Regex::compile(token, !q.caseSensitive);
            if (!re) {
                regexes.clear();
                break;
            }
            regexes.push_back(std::move(*re));
        }
        if (q.tokens.empty() || regexes.size() != q.tokens.size())
            mode = Mode::Nothing;
        return;
    }
    if (q.tokens.empty()) {
        mode = hasListingFilter(q) ? Mode::FilterOnly : Mode::Nothing;
        return;
    }
    // A token with no letter, mark or number would otherwise match every name
    // through the empty normalized prefix; it matches nothing instead.
    mode = hasEmptyNormalizedToken ? Mode::Nothing : Mode::Ranked;
}

} // namespace pallix
