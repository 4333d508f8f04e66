#pragma once
// Folder-aware ordering of a result list sorted by name: folders that hold
// videos first, then folders that hold images (newest first), then the rest,
// each group by name. Files keep their positions; folders only trade the
// positions folders already hold. Pure functions over a hint cache; any thread.

#include <cstddef>
#include <string>
#include <unordered_map>

#include <QList>

#include "Core/Models/IndexedItem.h"
#include "Core/Search/SearchQuery.h"
#include "Platform/Text.h"

namespace pallix {

// What a folder directly holds, as far as the model knows.
struct FolderHint {
    bool hasVideo = false;
    bool hasImage = false;
    friend bool operator==(const FolderHint&, const FolderHint&) = default;
};

using FolderHintCache = std::unordered_map<std::string, FolderHint, text::ViewHash, std::equal_to<>>;

namespace FolderOrdering {

// Lists longer than this are published in the order given.
inline constexpr qsizetype kMaxOrderedItems = 2600;

// 0 video folder, 1 image folder, 2 other or unknown folder, 9 not a folder.
int folderCategory(const IndexedItem& item, const FolderHintCache& hints);

// True when `a` goes before `b` among folders.
bool folderGoesBefore(const IndexedItem& a, const IndexedItem& b, const FolderHintCache& hints);

// The list with its folders reordered; unchanged unless sorted by name and
// at most kMaxOrderedItems long.
QList<IndexedItem> ordered(const QList<IndexedItem>& items, const SearchQuery& query, const FolderHintCache& hints);

} // namespace FolderOrdering
} // namespace pallix
