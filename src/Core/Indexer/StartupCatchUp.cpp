#include "Core/Indexer/StartupCatchUp.h"

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
        if (IndexStore::indexedRootsContain(path, roots))
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
    // A root that is not there (a disk not mounted at its place) says
    // nothing of its rows: they stay.
    std::vector<std::string> present;
    for (const std::string& root : roots) {
        struct stat info {};
        if (::stat(root.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            present.push_back(root);
    }
    if (present.empty())
        return out;
    auto stored = storedFolders(store.databaseURL(), present);
    if (!stored) {
        out.error = stored.error();
        return out;
    }
    const std::vector<StoredFolder>& folders = *stored;
    std::unordered_set<std::string_view> known;
    known.reserve(folders.size());
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
    out.foldersGone = gone.size();
    if ((!gone.empty() || !changed.empty()) && onChangesFound)
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

    // The new folders in one walk: the index holds nothing under them.
    out.foldersNew = fresh.size();
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
