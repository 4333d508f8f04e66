#include "Core/Indexer/FolderReconciler.h"

#include <algorithm>
#include <unordered_set>

#include "Core/IndexDB/IndexStore.h"

namespace pallix {

namespace {

bool cancelled(const CancelToken* cancel) { return cancel && cancel->isCancelled(); }

// The rows below `folder` that the walk did not find, outside what it could not read.
std::vector<std::string> vanishedRows(IndexStore& store, const std::string& folder, const ScanResult& walk,
                                      const CancelToken* cancel)
{
    std::unordered_set<std::string_view> found;
    found.reserve(walk.items.size());
    for (const IndexedItem& item : walk.items)
        found.insert(item.path());
    const auto spared = [&](const std::string& path) {
        return std::any_of(walk.unreadablePaths.begin(), walk.unreadablePaths.end(),
                           [&](const std::string& k) { return paths::isUnder(path, paths::standardize(k)); });
    };
    std::vector<std::string> vanished;
    std::string after;
    for (;;) {
        if (cancelled(cancel))
            return {};
        std::vector<std::string> page = store.pathsBelow(folder, after, int(FolderReconciler::kSlice));
        if (page.empty())
            break;
        after = page.back();
        for (std::string& path : page)
            if (!found.contains(path) && !spared(path))
                vanished.push_back(std::move(path));
    }
    return vanished;
}

} // namespace

ReconcileOutcome FolderReconciler::reconcile(IndexStore& store, const FileScanner& scanner, const std::string& folder,
                                             const std::vector<std::string>& excludedPaths, bool excludeSystemJunk,
                                             const CancelToken* cancel)
{
    ReconcileOutcome out;
    const std::string root = paths::standardize(folder);
    const ScanResult walk = scanner.scan({root}, excludedPaths, excludeSystemJunk, cancel);
    out.cancelled = cancelled(cancel);
    for (std::size_t begin = 0; begin < walk.items.size() && !out.error; begin += kSlice) {
        const std::size_t end = std::min(walk.items.size(), begin + kSlice);
        const std::vector<IndexedItem> slice(walk.items.begin() + std::ptrdiff_t(begin),
                                             walk.items.begin() + std::ptrdiff_t(end));
        if (const auto written = store.upsert(slice); !written)
            out.error = written.error();
        else
            out.written += slice.size();
    }
    // A partial walk would take every row it did not reach for a vanished one.
    if (out.cancelled || out.error)
        return out;
    const std::vector<std::string> vanished = vanishedRows(store, root, walk, cancel);
    for (std::size_t begin = 0; begin < vanished.size() && !out.error; begin += kSlice) {
        if (cancelled(cancel)) {
            out.cancelled = true;
            break;
        }
        const std::size_t end = std::min(vanished.size(), begin + kSlice);
        const std::vector<std::string> slice(vanished.begin() + std::ptrdiff_t(begin),
                                             vanished.begin() + std::ptrdiff_t(end));
        if (const auto removed = store.removePathPrefixes(slice); !removed)
            out.error = removed.error();
        else
            out.removed += slice.size();
    }
    return out;
}

} // namespace pallix
