#pragma once
// ImageFuzzySearch: the model's image-content search, finding pictures by
// what they show. The first two search terms become groups of tag tokens
// (the lower-cased term, its "ocr:" form, and for 28 Chinese keywords their
// English labels); the tag stores return the images that match every group,
// folders whose names hold every plain token join them, and the index caches
// (the local one, and the shared-drive one for shared-drive images) turn the
// paths into items, which are ordered images-first. The tag stores' answer
// and the rest are asked apart, so that a search of the same words can reuse
// an answer that new tags cannot have changed.
//
// Threads: plan(), finish() and the helpers are plain functions for the GUI
// thread; tagHits() and gather() block on the stores and run on a worker thread.

#include <string>
#include <vector>

#include <QList>
#include <QSet>
#include <QString>

#include "Core/Models/IndexedItem.h"
#include "Core/Search/SearchQuery.h"
#include "Core/Semantic/ImageTagStore.h"

namespace pallix {

class CancelToken;
class IndexStore;

class ImageFuzzySearch {
public:
    static constexpr int kMaxItems = 1200;

    // Everything one search asks of the stores, fixed on the GUI thread.
    struct Plan {
        std::vector<std::vector<std::string>> groups;  // one per term; empty: search nothing
        std::vector<std::string> nameTokens;           // the groups' tokens without "ocr:" ones
        bool caseSensitive = false;
        int cap = 0;              // items returned: min(limit, 1200)
        int localTagLimit = 0;    // clamp(limit × 8, 1800, 6000)
        int serverTagLimit = 0;   // min(limit × 3, 2200); 0: the shared-drive store is not asked
        int folderLimit = 0;      // min(limit, 240)
        int candidateLimit = 0;   // clamp(cap × 10, 2200, 8000)
    };

    // The tokens of one search term, without repeats.
    static std::vector<std::string> expandFuzzyTokens(const std::string& term);
    static Plan plan(const SearchQuery& query, int limit, bool withServer);
    // What the tag stores answered for one plan: the images whose tags match.
    struct TagHits {
        std::vector<std::string> local;
        std::vector<std::string> server;  // empty when the shared-drive store is not asked
    };
    // Worker thread: the tag stores' answer; `serverTags` (may be null) is
    // asked only when the plan has a shared-drive limit.
    static TagHits tagHits(const Plan& plan, ImageTagStore& localTags, ImageTagStore* serverTags);
    // Worker thread: the matching items, folders first (by name, from the
    // local index), then the local images of `hits` (from the local index
    // cache), then its shared-drive images from the shared-drive index's
    // cache (`serverIndex`; without it, none show). A fired `cancel` cuts the
    // folder scan short; the answer is then partial.
    static std::vector<IndexedItem> gather(const Plan& plan, IndexStore& index, const TagHits& hits,
                                           IndexStore* serverIndex = nullptr, const CancelToken* cancel = nullptr);
    // Drops the excluded paths, orders the rest and keeps the first `cap`.
    static QList<IndexedItem> finish(std::vector<IndexedItem> items, const QSet<QString>& excludingPaths,
                                     SearchSortField sortField, bool ascending, int cap);

    // 0 folder, 1 image, 2 document-like (any other file with an extension), 7 the rest.
    static int fuzzyKindOrder(const IndexedItem& item);
    // Kind first whatever the direction, then the sort field, then the path.
    static QList<IndexedItem> sortedFuzzyResults(QList<IndexedItem> items, SearchSortField sortField, bool ascending);
};

} // namespace pallix
