#pragma once
// The browsable preview sequence of a selected image or video: the items of
// the same kind that the result lists show from the selected item's folder,
// in the order a file manager lists names. Pure; any thread.

#include <optional>

#include <QList>

#include "Core/Models/IndexedItem.h"

namespace pallix {

namespace QuickLookSequence {

enum class Kind { Image, Video };

// The kind of an item by its extension, or none for any other item.
std::optional<Kind> kindOf(const IndexedItem& item);

// Per-folder limits: 200 images, 120 videos.
int perFolderLimit(Kind kind);

// Scans the first 1200 local, 600 image-content, 600 SKU-related and 650
// shared-drive results, each path once, keeping at most `perFolderLimit`
// items of `kind` from the folder of `selected`; adds `selected` when the
// scan never met it; sorts by name (numbers by value, case ignored), stably.
// Never empty.
QList<IndexedItem> build(const IndexedItem& selected, Kind kind, int perFolderLimit, const QList<IndexedItem>& results,
                         const QList<IndexedItem>& imageFuzzyResults, const QList<IndexedItem>& skuRelatedResults,
                         const QList<IndexedItem>& serverResults);

} // namespace QuickLookSequence
} // namespace pallix
