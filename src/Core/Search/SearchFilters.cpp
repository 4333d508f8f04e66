#include "Core/Search/SearchFilters.h"

#include <algorithm>

#include "Core/Search/ItemForms.h"
#include "Core/Search/SearchEngine.h"
#include "Core/Search/TextScan.h"

namespace pallix {

namespace {

// Expressions see the composed name, as typed patterns are composed.
template <typename Fn>
bool withComposedName(const ItemRef& item, Fn&& fn)
{
    if (text::isAscii(item.name))
        return fn(item.name);
    const std::string composed = text::toNFC(item.name);
    return fn(std::string_view(composed));
}

} // namespace

bool matchesContentMask(const ItemRef& item, unsigned mask)
{
    if (mask == 0)
        return true;
    const std::string_view ext = item.fileExtension;
    return ((mask & kContentFolders) && item.isFolder) || ((mask & kContentImages) && kinds::isImageExtension(ext)) ||
           ((mask & kContentDocuments) && kinds::isDocumentLike(item)) ||
           ((mask & kContentVideos) && kinds::isVideoExtension(ext)) ||
           ((mask & kContentNormal) && kinds::isNormalFile(item)) ||
           ((mask & kContentArchives) && kinds::isArchiveExtension(ext)) ||
           ((mask & kContentExecutables) && kinds::isExecutableExtension(ext));
}

bool passesAttributeFilters(const ItemRef& item, const PreparedQuery& prepared)
{
    const SearchQuery& q = prepared.query;
    if (q.typeFilter && (*q.typeFilter == IndexedItem::ItemType::Folder) != item.isFolder)
        return false;
    // Plain equality: both sides are lower case, and an empty filter admits only extension-less items.
    if (q.extensionFilter && item.fileExtension != *q.extensionFilter)
        return false;
    if (!matchesContentMask(item, prepared.contentMask))
        return false;
    // Only the parent folder's path is searched, never the item's own name.
    if (prepared.pathFilter &&
        !textscan::contains(comparableParentPath(item, q.caseSensitive), *prepared.pathFilter))
        return false;
    if (q.modifiedAfter && item.modifiedAt < *q.modifiedAfter)
        return false;
    return true;
}

bool passesJunkFilter(const ItemRef& item, const PreparedQuery& prepared)
{
    return !prepared.query.excludeSystemJunk ||
           !IndexedItem::shouldExcludeAsSystemOrJunk(item.path, item.name, item.fileExtension, item.isFolder);
}

bool passesFilters(const ItemRef& item, const PreparedQuery& prepared)
{
    return passesJunkFilter(item, prepared) && passesAttributeFilters(item, prepared);
}

bool matchesWildcard(const ItemRef& item, const text::Regex& wildcard, text::RegexWatch* watch)
{
    // Before composing the name: a stopped search answers no at the cost of a flag.
    if (watch && watch->stopped())
        return false;
    return withComposedName(item, [&](std::string_view name) { return wildcard.search(name, watch); });
}

bool matchesPlainWildcard(std::string_view name, std::string_view pattern, bool caseSensitive)
{
    const auto lowered = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; };
    const auto same = [&](char p, char n) { return caseSensitive ? p == n : lowered(p) == lowered(n); };
    // "?" takes one character, however many bytes it has; a literal takes one
    // ASCII byte, and a byte of a longer character never equals one.
    const auto characterLength = [&](std::size_t at) {
        const auto b = static_cast<unsigned char>(name[at]);
        return std::min<std::size_t>(b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2, name.size() - at);
    };
    constexpr std::size_t none = std::string_view::npos;
    std::size_t p = 0, n = 0, starP = none, starN = 0;
    // Greedy, going back to the last "*" on a mismatch: enough for patterns of
    // "*" and "?" only, since a later "*" can absorb whatever an earlier one left.
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n += characterLength(n);
        } else if (p < pattern.size() && same(pattern[p], name[n])) {
            ++p;
            ++n;
        } else if (starP != none) {
            p = starP + 1;
            starN += characterLength(starN);
            n = starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool matchesAllExpressions(const ItemRef& item, const std::vector<text::Regex>& expressions, text::RegexWatch* watch)
{
    if (watch && watch->stopped())
        return false;
    return withComposedName(item, [&](std::string_view name) {
        for (const text::Regex& re : expressions)
            if (!re.search(name, watch))
                return false;
        return true;
    });
}

bool SearchEngine::passesFilters(const ItemRef& item, const SearchQuery& query)
{
    return pallix::passesFilters(item, PreparedQuery(query));
}

bool SearchEngine::matchesContentFilters(const ItemRef& item, const SearchQuery& query)
{
    return matchesContentMask(item, PreparedQuery::contentMaskOf(query.contentFilters));
}

bool SearchEngine::matchesWildcard(const ItemRef& item, const std::string& pattern, bool caseSensitive)
{
    std::optional<text::Regex> re =
        text::Regex::compile(PreparedQuery::wildcardExpression(text::toNFC(pattern)), !caseSensitive);
    return re && pallix::matchesWildcard(item, *re);
}

} // namespace pallix
