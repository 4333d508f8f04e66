#include "Core/Indexer/FolderReconciler.h"

#include <algorithm>
#include <unordered_set>

#include "Core/IndexDB/IndexStore.h"

namespace pallix {

namespace {

bool cancelled(const CancelToken* cancel) { return cancel && cancel->isCancelled(); }

// What the walk met, by the hash of each path: the walk hands its records
// over in slices and keeps none, so its memory does not grow with the length
// of the paths. Two paths of one hash keep a vanished row; they never drop a
// row that is there.
using FoundPaths = std::unordered_set<std::uint64_t>;

std::uint64_t pathHash(std::string_view path) { return std::hash<std::string_view>{}(path); }

// The rows below `folder` that the walk did not find, outside what it could not read.
std::vector<std::string> vanishedRows(IndexStore& store, const std::string& folder, const FoundPaths& found,
                                      const std::vector<std::string>& unreadable, const CancelToken* cancel)
{
    const auto spared = [&](const std::string& path) {
        return std::any_of(unreadable.begin(), unreadable.end(),
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
            if (!found.contains(pathHash(path)) && !spared(path))
                vanished.push_back(std::move(path));
    }
    return vanished;
}

} // namespace

std::vector<std::string> FolderReconciler::outermost(std::vector<std::string> folders)
{
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    // By each one's ancestors: in byte order "/a/b-c" falls between "/a/b" and
    // "/a/b/c", so the last one kept is not always the one above.
    const std::unordered_set<std::string_view> all(folders.begin(), folders.end());
    const auto heldByAnother = [&all](std::string_view path) {
        for (std::string_view up = paths::deletingLastComponent(path); up != path;
             path = up, up = paths::deletingLastComponent(up))
            if (all.contains(up))
                return true;
        return false;
    };
    std::vector<std::string> kept;
    for (const std::string& folder : folders)
        if (!heldByAnother(folder))
            kept.push_back(folder);
    return kept;
}

ReconcileOutcome FolderReconciler::reconcile(IndexStore& store, const FileScanner& scanner, const std::string& folder,
                                             const std::vector<std::string>& excludedPaths, bool excludeSystemJunk,
                                             const CancelToken* cancel)
{
    ReconcileOutcome out;
    const std::string root = paths::standardize(folder);
    FoundPaths found;
    // After a failed write the walk runs out without writing.
    const ScanReport walk = scanner.scanInBatches(
        {root}, excludedPaths, excludeSystemJunk, int(kSlice),
        [&](const std::vector<IndexedItem>& slice) {
            if (out.error)
                return;
            for (const IndexedItem& item : slice)
                found.insert(pathHash(item.path()));
            if (const auto written = store.upsert(slice); !written)
                out.error = written.error();
            else
                out.written += slice.size();
        },
        cancel);
    out.cancelled = cancelled(cancel);
    // A partial walk would take every row it did not reach for a vanished one.
    if (out.cancelled || out.error)
        return out;
    const std::vector<std::string> vanished = vanishedRows(store, root, found, walk.unreadablePaths, cancel);
    inSlices(vanished, [&](const std::vector<std::string>& slice) {
        if (cancelled(cancel)) {
            out.cancelled = true;
            return false;
        }
        if (const auto removed = store.removePathPrefixes(slice); !removed) {
            out.error = removed.error();
            return false;
        }
        out.removed += slice.size();
        return true;
    });
    return out;
}

} // namespace pallix
