#include "App/Search/FolderOrdering.h"

#include <algorithm>
#include <vector>

#include "Platform/Text.h"

namespace pallix::FolderOrdering {

int folderCategory(const IndexedItem& item, const FolderHintCache& hints)
{
    if (!item.isDirectory())
        return 9;
    const auto it = hints.find(item.path());
    if (it == hints.end())
        return 2;
    if (it->second.hasVideo)
        return 0;
    return it->second.hasImage ? 1 : 2;
}

bool folderGoesBefore(const IndexedItem& a, const IndexedItem& b, const FolderHintCache& hints)
{
    const int ca = folderCategory(a, hints);
    const int cb = folderCategory(b, hints);
    if (ca != cb)
        return ca < cb;
    if (ca == 1 && a.modifiedAt() != b.modifiedAt())
        return a.modifiedAt() > b.modifiedAt();
    if (const int byName = text::compareZhCaseInsensitive(a.name(), b.name()); byName != 0)
        return byName < 0;
    return text::compareZhCaseInsensitive(a.path(), b.path()) < 0;
}

QList<IndexedItem> ordered(const QList<IndexedItem>& items, const SearchQuery& query, const FolderHintCache& hints)
{
    if (query.sortField != SearchSortField::Name || items.size() > kMaxOrderedItems)
        return items;
    std::vector<IndexedItem> folders;
    for (const IndexedItem& item : items) {
        if (item.isDirectory())
            folders.push_back(item);
    }
    if (folders.empty())
        return items;
    std::stable_sort(folders.begin(), folders.end(),
                     [&](const IndexedItem& a, const IndexedItem& b) { return folderGoesBefore(a, b, hints); });
    QList<IndexedItem> result;
    result.reserve(items.size());
    auto nextFolder = folders.begin();
    for (const IndexedItem& item : items)
        result.append(item.isDirectory() ? *nextFolder++ : item);
    return result;
}

} // namespace pallix::FolderOrdering
