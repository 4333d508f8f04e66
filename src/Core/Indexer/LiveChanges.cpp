#include "Core/Indexer/LiveChanges.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <unordered_map>
#include <unordered_set>

#include "Core/IndexDB/IndexStore.h"
#include "Core/Indexer/FolderReconciler.h"
#include "Core/Indexer/StartupCatchUp.h"
#include "Platform/FileNames.h"

namespace pallix {

namespace {

enum class Presence { Present, Absent, Unknown };

// Absent only when the system says so: a location that cannot be checked
// (its folder unreadable, say) may still be there, and its rows must stay.
Presence presenceOf(const std::string& path)
{
    struct stat status;
    if (::lstat(filenames::toFileSystem(path).c_str(), &status) == 0)
        return Presence::Present;
    return errno == ENOENT || errno == ENOTDIR ? Presence::Absent : Presence::Unknown;
}

// One run's writes, each a slice, stopping at the first that fails or at the
// cancellation.
class Writer {
public:
    Writer(IndexStore& store, const FileScanner& scanner, const LiveScope& scope, const CancelToken* cancel,
           const LiveChanges::GiveWay& giveWay)
        : m_store(store), m_scanner(scanner), m_scope(scope), m_cancel(cancel), m_giveWay(giveWay)
    {
    }

    LiveOutcome& outcome() { return m_out; }

    void remove(const std::vector<std::string>& gone)
    {
        FolderReconciler::inSlices(gone, [&](const std::vector<std::string>& slice) {
            return live() && succeeded(m_store.removePathPrefixes(slice));
        });
    }

    void upsert(const std::vector<IndexedItem>& items)
    {
        FolderReconciler::inSlices(items, [&](const std::vector<IndexedItem>& slice) {
            return live() && succeeded(m_store.upsert(slice));
        });
    }

    // A few folders at a time, each walked whole; a newer batch may come in
    // between. Not one at a time: a thousand new empty folders would be a
    // thousand writes.
    void walkGivingWay(const std::vector<std::string>& folders)
    {
        constexpr std::size_t kFoldersPerWalk = 8;
        for (std::size_t begin = 0; begin < folders.size(); begin += kFoldersPerWalk) {
            if (!live() || givesWay())
                return;
            const std::size_t end = std::min(folders.size(), begin + kFoldersPerWalk);
            walk({folders.begin() + std::ptrdiff_t(begin), folders.begin() + std::ptrdiff_t(end)});
        }
    }

    void walk(const std::vector<std::string>& folders)
    {
        if (folders.empty() || !live())
            return;
        m_out.foldersWalked += folders.size();
        m_scanner.scanInBatches(
            folders, m_scope.excludedPaths, m_scope.excludeSystemJunk, int(FolderReconciler::kSlice),
            [&](const std::vector<IndexedItem>& slice) {
                if (live())
                    succeeded(m_store.upsert(slice));
            },
            m_cancel);
    }

    // Each folder listed one level deep, its children's rows compared by
    // their parent, a slice of children a write.
    void list(const std::vector<std::string>& folders)
    {
        const std::vector<std::string> indexed = m_store.indexedFoldersAmong(folders);
        const std::unordered_set<std::string> known(indexed.begin(), indexed.end());
        const std::unordered_set<std::string> all(folders.begin(), folders.end());
        for (const std::string& folder : folders) {
            if (!live())
                return;
            // What was listed is written, and its new folders walked, first:
            // a folder row without its walk would pass for one indexed.
            if (wantsWay()) {
                flush();
                m_out.gaveWay = live();
                return;
            }
            // A new folder is met by its parent's listing and walked whole.
            if (!known.contains(folder) && all.contains(std::string(paths::deletingLastComponent(folder))))
                continue;
            // Read before the listing: a change made during it shows next time.
            std::optional<IndexedItem> own = IndexedItem::from(folder);
            // No listing (gone, or unreadable) is no reason to drop the children.
            auto listed = m_scanner.scanImmediateChildren(folder, m_scope.excludedPaths, m_scope.excludeSystemJunk);
            if (!own || !listed)
                continue;
            ++m_out.foldersListed;
            m_children += listed->size() + 1;
            m_listings.push_back({folder, std::move(*listed)});
            m_ownRows.push_back(std::move(*own));
            if (m_children >= FolderReconciler::kSlice)
                flush();
        }
        flush();
    }

    void catchUp(const std::vector<std::string>& roots)
    {
        if (roots.empty() || !live())
            return;
        m_out.foldersWalked += roots.size();
        const CatchUpOutcome caught = StartupCatchUp::run(m_store, m_scanner, roots, m_scope.excludedPaths,
                                                          m_scope.excludeSystemJunk, m_cancel);
        m_out.cancelled = m_out.cancelled || caught.cancelled;
        if (caught.error && !m_out.error)
            m_out.error = caught.error;
    }

    // False once cancelled, failed or given way: nothing more is written.
    bool live()
    {
        if (m_cancel && m_cancel->isCancelled())
            m_out.cancelled = true;
        return !m_out.cancelled && !m_out.error && !m_out.gaveWay;
    }

    bool givesWay()
    {
        if (wantsWay())
            m_out.gaveWay = true;
        return m_out.gaveWay;
    }

    bool wantsWay() const { return m_giveWay && m_giveWay(); }

private:
    bool succeeded(const StoreResult<void>& result)
    {
        if (!result && !m_out.error)
            m_out.error = result.error();
        return result.has_value();
    }

    // The slice's folders in one write; then the child folders met for the
    // first time walked whole, and the folders' own rows, of those indexed.
    void flush()
    {
        std::vector<std::string> asked;
        for (const IndexStore::FolderListing& listing : m_listings) {
            asked.push_back(listing.folder);
            for (const IndexedItem& child : listing.children)
                if (child.isDirectory())
                    asked.emplace_back(child.path());
        }
        const std::vector<std::string> indexed = m_store.indexedFoldersAmong(asked);
        const std::unordered_set<std::string> known(indexed.begin(), indexed.end());
        if (!m_listings.empty() && live() && succeeded(m_store.synchronizeFolders(m_listings))) {
            std::vector<std::string> fresh;
            for (const IndexStore::FolderListing& listing : m_listings)
                for (const IndexedItem& child : listing.children)
                    if (child.isDirectory() && !known.contains(std::string(child.path())))
                        fresh.emplace_back(child.path());
            walk(FolderReconciler::outermost(std::move(fresh)));
            std::vector<IndexedItem> own;
            for (IndexedItem& row : m_ownRows)
                if (known.contains(std::string(row.path())))
                    own.push_back(std::move(row));
            upsert(own);
        }
        m_listings.clear();
        m_ownRows.clear();
        m_children = 0;
    }

    IndexStore& m_store;
    const FileScanner& m_scanner;
    const LiveScope& m_scope;
    const CancelToken* m_cancel;
    const LiveChanges::GiveWay& m_giveWay;
    LiveOutcome m_out;
    std::vector<IndexStore::FolderListing> m_listings;
    std::vector<IndexedItem> m_ownRows;
    std::size_t m_children = 0;
};

bool isAtOrUnderAny(std::string_view path, const std::unordered_set<std::string>& folders)
{
    for (;;) {
        if (folders.contains(std::string(path)))
            return true;
        const std::string_view parent = paths::deletingLastComponent(path);
        if (parent == path || parent.empty())
            return false;
        path = parent;
    }
}

bool isRoot(const std::string& path, const std::vector<std::string>& roots)
{
    for (const std::string& root : roots)
        if (paths::standardize(root) == path)
            return true;
    return false;
}

} // namespace

std::vector<std::string> LiveChanges::foldersHolding(const std::vector<std::string>& paths,
                                                     const std::vector<std::string>& roots)
{
    std::vector<std::string> folders;
    std::unordered_set<std::string> seen;
    for (const std::string& location : paths) {
        const std::string path = paths::standardize(location);
        std::string parent(paths::deletingLastComponent(path));
        if (parent != path && indexedRootsContain(path, roots)
            && indexedRootsContain(parent, roots) && seen.insert(parent).second)
            folders.push_back(std::move(parent));
    }
    return folders;
}

bool LiveChanges::isBehind(const std::vector<std::string>& paths, const std::vector<std::string>& roots,
                           Clock::Duration waited)
{
    return waited > kBehindAfter || foldersHolding(paths, roots).size() >= kManyFolders;
}

std::vector<std::vector<std::string>> LiveChanges::slices(std::vector<std::string> paths,
                                                         const std::vector<std::string>& roots)
{
    std::unordered_map<std::string, std::size_t> changesIn;
    std::vector<std::string> folderOf;
    folderOf.reserve(paths.size());
    for (const std::string& path : paths) {
        const std::vector<std::string> held = foldersHolding({path}, roots);
        folderOf.push_back(held.empty() ? path : held.front());
        ++changesIn[folderOf.back()];
    }
    std::vector<char> busy(paths.size());
    for (std::size_t i = 0; i < busy.size(); ++i)
        busy[i] = changesIn[folderOf[i]] >= kBusyFolder;
    std::vector<std::size_t> order(paths.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return std::pair(busy[a], std::string_view(folderOf[a])) < std::pair(busy[b], std::string_view(folderOf[b]));
    });
    // A slice ends where the quiet folders end, and before a folder it would
    // cut in two (to be listed twice), unless that folder began the slice.
    std::vector<std::vector<std::string>> out;
    for (std::size_t begin = 0; begin < order.size();) {
        std::size_t end = std::min(order.size(), begin + kSlicePaths);
        if (!busy[order[begin]])
            end = std::find_if(order.begin() + begin, order.begin() + end, [&](std::size_t i) { return busy[i]; })
                  - order.begin();
        std::size_t folderStart = end;
        while (end < order.size() && folderStart > begin && folderOf[order[folderStart - 1]] == folderOf[order[end]])
            --folderStart;
        if (folderStart > begin)
            end = folderStart;
        std::vector<std::string>& slice = out.emplace_back();
        for (std::size_t i = begin; i < end; ++i)
            slice.push_back(std::move(paths[order[i]]));
        begin = end;
    }
    return out;
}

LiveOutcome LiveChanges::write(IndexStore& store, const FileScanner& scanner, const std::vector<std::string>& paths,
                               const LiveScope& scope, bool behind, const CancelToken* cancel,
                               const GiveWay& giveWay)
{
    return behind ? relist(store, scanner, paths, scope, cancel, giveWay)
                  : apply(store, scanner, paths, scope, cancel, giveWay);
}

LiveOutcome LiveChanges::apply(IndexStore& store, const FileScanner& scanner, const std::vector<std::string>& paths,
                               const LiveScope& scope, const CancelToken* cancel, const GiveWay& giveWay)
{
    std::vector<std::string> gone;
    std::vector<IndexedItem> files;
    std::vector<std::string> folders;
    std::vector<std::string> lost;
    std::unordered_set<std::string> seen;
    for (const std::string& location : paths) {
        const std::string path = paths::standardize(location);
        if (!indexedRootsContain(path, scope.roots) || !seen.insert(path).second)
            continue;
        const Presence presence = presenceOf(path);
        if (presence == Presence::Absent) {
            gone.push_back(path);
            continue;
        }
        if (presence == Presence::Unknown)
            continue;
        if (isRoot(path, scope.roots)) {
            lost.push_back(path);
            continue;
        }
        const std::optional<IndexedItem> item = IndexedItem::from(path);
        if (!item || item->isDirectory())
            folders.push_back(path);
        else if (scope.excludeSystemJunk
                 && IndexedItem::shouldExcludeAsSystemOrJunk(item->path(), item->name(), item->fileExtension(), false))
            gone.push_back(path);
        else
            files.push_back(*item);
    }
    Writer writer(store, scanner, scope, cancel, giveWay);
    writer.remove(gone);
    writer.upsert(files);
    // A folder the index holds is listed with the folders holding the paths;
    // one it does not hold is new, and walked.
    std::vector<std::string> listed = foldersHolding(paths, scope.roots);
    const std::vector<std::string> indexed = store.indexedFoldersAmong(folders);
    const std::unordered_set<std::string> known(indexed.begin(), indexed.end());
    std::unordered_set<std::string> toList(listed.begin(), listed.end());
    std::vector<std::string> fresh;
    for (const std::string& folder : folders)
        if (!known.contains(folder))
            fresh.push_back(folder);
        else if (toList.insert(folder).second)
            listed.push_back(folder);
    fresh = FolderReconciler::outermost(std::move(fresh));
    writer.walkGivingWay(fresh);
    // What the walks wrote needs no listing.
    const std::unordered_set<std::string> walked(fresh.begin(), fresh.end());
    std::erase_if(listed, [&](const std::string& folder) { return isAtOrUnderAny(folder, walked); });
    writer.list(listed);
    writer.catchUp(lost);
    return writer.outcome();
}

LiveOutcome LiveChanges::relist(IndexStore& store, const FileScanner& scanner, const std::vector<std::string>& paths,
                                const LiveScope& scope, const CancelToken* cancel, const GiveWay& giveWay)
{
    std::vector<std::string> lost;
    for (const std::string& location : paths)
        if (const std::string path = paths::standardize(location); isRoot(path, scope.roots))
            lost.push_back(path);
    Writer writer(store, scanner, scope, cancel, giveWay);
    writer.list(foldersHolding(paths, scope.roots));
    writer.catchUp(lost);
    return writer.outcome();
}

} // namespace pallix
