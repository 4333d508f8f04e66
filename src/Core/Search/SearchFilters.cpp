#include "Core/Search/SearchFilters.h"

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

bool matchesWildcard(const ItemRef& item, const text::Regex& wildcard)
{
    return withComposedName(item, [&](std::string_view name) { return wildcard.search(name); });
}

bool matchesAllExpressions(const ItemRef& item, const std::vector<text::Regex>& expressions)
{
    return withComposedName(item, [&](std::string_view name) {
        for (const text::Regex& re : expressions)
            if (!re.search(name))
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
