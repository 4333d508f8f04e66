#include "Core/Indexer/StartupCatchUp.h"

#include <dirent.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <unordered_set>

#include "Core/IndexDB/IndexStore.h"
#include "Core/IndexDB/Sqlite.h"
#include "Core/Indexer/FolderReconciler.h"

namespace pallix {

namespace {

bool cancelled(const CancelToken* cancel) { return cancel && cancel->isCancelled(); }

enum class OnDisk { Same, Changed, Gone, Unknown };

// The folder compared with its stored time, read as the walk reads times.
OnDisk compare(const std::string& path, Date stored)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? OnDisk::Gone : OnDisk::Unknown;
    if (!S_ISDIR(info.st_mode))
        return OnDisk::Gone;  // the parent's listing writes what stands there now
    const Date now = static_cast<double>(info.st_mtim.tv_sec) + static_cast<double>(info.st_mtim.tv_nsec) / 1e9;
    return now == stored ? OnDisk::Same : OnDisk::Changed;
}

bool isExcluded(const std::string& path, const std::vector<std::string>& excludedPaths)
{
    return std::any_of(excludedPaths.begin(), excludedPaths.end(),
                       [&](const std::string& excluded) { return paths::isUnder(path, paths::standardize(excluded)); });
}

bool isEmptyFolder(const std::string& path)
{
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return false;
    bool empty = true;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            empty = false;
            break;
        }
    }
    ::closedir(dir);
    return empty;
}

// A root that is there to be caught up with. One that is missing says nothing
// of its rows, and neither does a mount point whose disk is absent: an empty
// folder on the file system above it, where the index holds what the disk
// had. Its rows stay until the disk is back.
bool isAvailableRoot(IndexStore& store, const std::string& root)
{
    struct stat info {};
    struct stat above {};
    if (::stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    const bool mountedHere = ::stat(std::string(paths::deletingLastComponent(root)).c_str(), &above) != 0
                          || above.st_dev != info.st_dev;
    return mountedHere || !isEmptyFolder(root) || store.pathsBelow(root, "", 1).empty();
}

// Folders below `roots` (not the roots themselves) that hold rows but have
// none of their own: a walk that met a folder deleted and made again while it
// passed left such rows, which no later change of a folder would reach.
StoreResult<std::vector<std::string>> foldersWithoutRows(const std::filesystem::path& database,
                                                         const std::vector<std::string>& roots)
{
    sqlite::Connection db;
    if (db.open(database.string(), sqlite::Connection::Mode::ReadOnly) != SQLITE_OK || !db.isOpen())
        return storeFailure(IndexStoreError::Code::OpenDatabase, db.errorMessage(), db.errorCode());
    // The distinct folders first, from the parent index: a lookup per folder,
    // not per row.
    sqlite::Statement statement;
    if (statement.prepare(db, "SELECT d.parent_path FROM (SELECT DISTINCT parent_path FROM file_index) AS d "
                              "WHERE NOT EXISTS (SELECT 1 FROM file_index AS f WHERE f.path = d.parent_path);")
        != SQLITE_OK)
        return storeFailure(IndexStoreError::Code::Prepare, db.errorMessage(), db.errorCode());
    std::vector<std::string> folders;
    int rc = SQLITE_ROW;
    while ((rc = statement.step()) == SQLITE_ROW) {
        const std::string_view path = statement.columnText(0);
        if (indexedRootsContain(path, roots) && std::find(roots.begin(), roots.end(), path) == roots.end())
            folders.emplace_back(path);
    }
    if (rc != SQLITE_DONE)
        return storeFailure(IndexStoreError::Code::Step, db.errorMessage(), rc);
    return folders;
}

// Whether the rows below a folder without a row of its own came from a folder
// the junk rule leaves out while walking into it: those are as they should be.
bool isJunkFolder(const std::string& path, bool excludeSystemJunk)
{
    if (!excludeSystemJunk)
        return false;
    const std::optional<IndexedItem> item = IndexedItem::from(path);
    return item && item->isDirectory()
        && IndexedItem::shouldExcludeAsSystemOrJunk(item->path(), item->name(), item->fileExtension(), true);
}

// Rows below a folder without its own go when it is gone; where it stands it
// is walked anew, and its rows stay until that walk replaces them.
void planRowless(const std::vector<std::string>& rowless, const std::vector<std::string>& excludedPaths,
                 bool excludeSystemJunk, std::vector<std::string>& gone, std::vector<std::string>& standing,
                 std::unordered_set<std::string_view>& known)
{
    for (const std::string& folder : rowless) {
        if (isExcluded(folder, excludedPaths) || isJunkFolder(folder, excludeSystemJunk))
            continue;
        const OnDisk now = compare(folder, kDistantPast);
        if (now == OnDisk::Unknown)
            continue;
        if (now == OnDisk::Gone) {
            gone.push_back(folder);
            continue;
        }
        standing.push_back(folder);
        known.insert(folder);  // no new child of a listing: its walk is below
    }
}

} // namespace

StoreResult<std::vector<StartupCatchUp::StoredFolder>>
StartupCatchUp::storedFolders(const std::filesystem::path& database, const std::vector<std::string>& roots)
{
    sqlite::Connection db;
    if (db.open(database.string(), sqlite::Connection::Mode::ReadOnly) != SQLITE_OK || !db.isOpen())
        return storeFailure(IndexStoreError::Code::OpenDatabase, db.errorMessage(), db.errorCode());
    sqlite::Statement statement;
    if (statement.prepare(db, "SELECT path, modified_at FROM file_index WHERE is_directory = 1;") != SQLITE_OK)
        return storeFailure(IndexStoreError::Code::Prepare, db.errorMessage(), db.errorCode());
    std::vector<StoredFolder> folders;
    int rc = SQLITE_ROW;
    while ((rc = statement.step()) == SQLITE_ROW) {
        const std::string_view path = statement.columnText(0);
        if (indexedRootsContain(path, roots))
            folders.push_back({std::string(path), statement.columnDouble(1)});
    }
    if (rc != SQLITE_DONE)
        return storeFailure(IndexStoreError::Code::Step, db.errorMessage(), rc);
    std::sort(folders.begin(), folders.end(),
              [](const StoredFolder& a, const StoredFolder& b) { return a.path < b.path; });
    return folders;
}

CatchUpOutcome StartupCatchUp::run(IndexStore& store, const FileScanner& scanner, const std::vector<std::string>& roots,
                                   const std::vector<std::string>& excludedPaths, bool excludeSystemJunk,
                                   const CancelToken* cancel, const std::function<void()>& onChangesFound)
{
    CatchUpOutcome out;
    std::vector<std::string> present;
    for (const std::string& root : roots)
        if (isAvailableRoot(store, root))
            present.push_back(root);
    if (present.empty())
        return out;
    auto stored = storedFolders(store.databaseURL(), present);
    if (!stored) {
        out.error = stored.error();
        return out;
    }
    const std::vector<StoredFolder>& folders = *stored;
    auto rowlessRead = foldersWithoutRows(store.databaseURL(), present);
    if (!rowlessRead) {
        out.error = rowlessRead.error();
        return out;
    }
    const std::vector<std::string>& rowless = *rowlessRead;
    std::unordered_set<std::string_view> known;
    known.reserve(folders.size() + rowless.size());
    for (const StoredFolder& folder : folders)
        known.insert(folder.path);

    // One stat per folder. A path sorts after every folder above it, so a
    // folder under a gone one is seen after it and left to its removal.
    std::vector<std::string> gone;
    std::unordered_set<std::string_view> goneSet;
    std::vector<const StoredFolder*> changed;
    for (const StoredFolder& folder : folders) {
        if (cancelled(cancel)) {
            out.cancelled = true;
            return out;
        }
        if (isExcluded(folder.path, excludedPaths))
            continue;
        ++out.foldersChecked;
        if (goneSet.contains(paths::deletingLastComponent(folder.path))) {
            goneSet.insert(folder.path);
            continue;
        }
        switch (compare(folder.path, folder.modifiedAt)) {
        case OnDisk::Same:
        case OnDisk::Unknown: break;  // unreadable says nothing of what lies there
        case OnDisk::Changed: changed.push_back(&folder); break;
        case OnDisk::Gone:
            gone.push_back(folder.path);
            goneSet.insert(folder.path);
            break;
        }
    }
    std::vector<std::string> standing;
    planRowless(rowless, excludedPaths, excludeSystemJunk, gone, standing, known);
    out.foldersGone = gone.size();
    if ((!gone.empty() || !changed.empty() || !standing.empty()) && onChangesFound)
        onChangesFound();

    const auto failed = [&](const StoreResult<void>& result) {
        if (!result)
            out.error = result.error();
        return !result;
    };
    FolderReconciler::inSlices(gone, [&](const std::vector<std::string>& slice) {
        return !failed(store.removePathPrefixes(slice));
    });
    if (out.error)
        return out;

    // The changed folders listed and written a slice at a time; their own
    // rows, as read before each listing, after all of them.
    std::vector<IndexStore::FolderListing> listings;
    std::vector<IndexedItem> ownRows;
    std::vector<std::string> fresh;
    std::size_t children = 0;
    const auto write = [&] {
        if (!listings.empty())
            failed(store.synchronizeFolders(listings));
        listings.clear();
        children = 0;
        return !out.error;
    };
    for (const StoredFolder* folder : changed) {
        if (cancelled(cancel)) {
            out.cancelled = true;
            return out;
        }
        std::optional<IndexedItem> own = IndexedItem::from(folder->path);
        auto listed = scanner.scanImmediateChildren(folder->path, excludedPaths, excludeSystemJunk);
        if (!own || !listed)
            continue;  // gone or unreadable since: its rows stay as they are
        ++out.foldersListed;
        for (const IndexedItem& child : *listed)
            if (child.isDirectory() && !known.contains(child.path()))
                fresh.emplace_back(child.path());
        children += listed->size() + 1;
        listings.push_back({folder->path, std::move(*listed)});
        ownRows.push_back(std::move(*own));
        if (children >= FolderReconciler::kSlice && !write())
            return out;
    }
    if (!write())
        return out;

    // The folders without a row of their own, walked whole, each row written
    // over as the walk meets it and what it no longer met removed at the end:
    // searches find what the folders held meanwhile.
    for (const std::string& folder : FolderReconciler::outermost(standing)) {
        const ReconcileOutcome reconciled =
            FolderReconciler::reconcile(store, scanner, folder, excludedPaths, excludeSystemJunk, cancel);
        out.cancelled = reconciled.cancelled;
        out.error = reconciled.error;
        if (out.cancelled || out.error)
            return out;
    }

    // The new folders in one walk: the index holds nothing under them.
    out.foldersNew = fresh.size() + standing.size();
    scanner.scanInBatches(
        fresh, excludedPaths, excludeSystemJunk, int(FolderReconciler::kSlice),
        [&](const std::vector<IndexedItem>& slice) {
            if (!out.error)
                failed(store.upsert(slice));
        },
        cancel);
    if (cancelled(cancel)) {
        out.cancelled = true;
        return out;
    }
    if (out.error)
        return out;
    FolderReconciler::inSlices(ownRows, [&](const std::vector<IndexedItem>& slice) {
        return !failed(store.upsert(slice));
    });
    return out;
}

} // namespace pallix
